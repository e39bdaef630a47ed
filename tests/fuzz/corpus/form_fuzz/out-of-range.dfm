object Quor1: TQuor
  RedialPause = 300
end
