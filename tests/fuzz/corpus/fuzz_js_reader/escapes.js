["\n\t\r\b\f\v\0\/\\\'\"","\u4e2d\ud83d\ude00\ud800x\u{1F600}\x41\101",'line\
continued',"\xe4"]