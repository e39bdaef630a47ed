object Quor1: TQuor
  MinimizeDialWindow = False
  EntryName = 'Office'
  PhoneNumber = '+44 (0)20 7946 0000'
  UserName = 'o''brien'
  Password = 'p'#228'ss''word'#1
  RedialAttempts = -5
  Domain = 'CORP'
  SynchronousDial = True
  RedialPause = 60
  OnNotify = Form1QuorNotify
end
