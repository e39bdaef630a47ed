object Quor1: TQuor
  Nope = 1
