// A C# program over quor.h through P/Invoke: dials the simulated service,
// counts every event, hangs up, then dials an entry that fails and checks
// RAS's error. Virtual time: quor_loop_run moves the clock on without
// waiting. Exit 0 when every check held.
using System;
using System.Runtime.InteropServices;
using System.Text;

static class Quor {
  const string Lib = "libquor.so.0";
  public const int TextEntry = 1, SetRedialAttempts = 1;

  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  public delegate void TextEvent(IntPtr user, IntPtr dialer, int error, IntPtr text);
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  public delegate void Event(IntPtr user, IntPtr dialer);
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  public delegate void StateEvent(IntPtr user, IntPtr dialer, uint state, uint error);

  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_dialer_new(out IntPtr d);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_dialer_free(IntPtr d);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_set_text_n(IntPtr d, int which, byte[] utf8, UIntPtr length);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_set_int(IntPtr d, int which, long value);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_connect(IntPtr d, out ulong h);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_hang_up(IntPtr d);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_loop_run(uint ms);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_loop_dispatch();
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern int quor_clock_virtual(int on);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)] public static extern IntPtr quor_error_text(int error);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_on_notify(IntPtr d, TextEvent fn, IntPtr user);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_on_connect(IntPtr d, Event fn, IntPtr user);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_on_disconnect(IntPtr d, TextEvent fn, IntPtr user);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_on_connect_fail(IntPtr d, TextEvent fn, IntPtr user);
  [DllImport(Lib, CallingConvention = CallingConvention.Cdecl)]
  public static extern int quor_on_state_change(IntPtr d, StateEvent fn, IntPtr user);

  public static string Utf8(IntPtr text) {
    if (text == IntPtr.Zero) return "";
    int n = 0;
    while (Marshal.ReadByte(text, n) != 0) ++n;
    byte[] bytes = new byte[n];
    Marshal.Copy(text, bytes, 0, n);
    return Encoding.UTF8.GetString(bytes);
  }
}

static class Program {
  static int failures = 0;
  static int notifies, connects, fails, states, lastError;
  static string firstNotice = "", lastNotice = "";
  // Kept in fields so that the collector does not free them while the library holds them.
  static readonly Quor.TextEvent OnNotify = (u, d, e, t) => {
    string text = Quor.Utf8(t);
    if (notifies++ == 0) firstNotice = text;
    lastNotice = text;
  };
  static readonly Quor.Event OnConnect = (u, d) => ++connects;
  static readonly Quor.TextEvent OnDisconnect = (u, d, e, t) => {};
  static readonly Quor.TextEvent OnFail = (u, d, e, t) => { ++fails; lastError = e; };
  static readonly Quor.StateEvent OnState = (u, d, s, e) => ++states;

  static void Check(bool condition, string what) {
    if (condition) return;
    Console.Error.WriteLine("CHECK failed: " + what);
    ++failures;
  }

  static IntPtr NewDialer(string entry) {
    IntPtr d;
    Check(Quor.quor_dialer_new(out d) == 0, "quor_dialer_new");
    byte[] name = Encoding.UTF8.GetBytes(entry);
    Check(Quor.quor_set_text_n(d, Quor.TextEntry, name, (UIntPtr)name.Length) == 0, "entry");
    Quor.quor_on_notify(d, OnNotify, IntPtr.Zero);
    Quor.quor_on_connect(d, OnConnect, IntPtr.Zero);
    Quor.quor_on_disconnect(d, OnDisconnect, IntPtr.Zero);
    Quor.quor_on_connect_fail(d, OnFail, IntPtr.Zero);
    Quor.quor_on_state_change(d, OnState, IntPtr.Zero);
    notifies = connects = fails = states = lastError = 0;
    return d;
  }

  static bool RunUntil(Func<bool> done) {
    for (int t = 0; t < 30000 && !done(); t += 100) Quor.quor_loop_run(100);
    return done();
  }

  static int Main(string[] args) {
    Check(Quor.quor_clock_virtual(1) == 0, "virtual clock");
    IntPtr d = NewDialer("Office");
    ulong handle;
    Check(Quor.quor_connect(d, out handle) == 0 && handle != 0, "connect");
    Check(RunUntil(() => connects > 0), "connected");
    Check(firstNotice == "Dialing Office...", "first notice: " + firstNotice);
    Check(lastNotice == "Connected", "last notice: " + lastNotice);
    Check(states > 0, "state changes");
    Check(Quor.quor_hang_up(d) == 0, "hang up");
    Quor.quor_loop_dispatch();
    Check(lastNotice == "Disconnecting...", "hang-up notice: " + lastNotice);
    Check(fails == 0, "no connect-fail");

    IntPtr busy = NewDialer("Busy");
    Quor.quor_set_int(busy, Quor.SetRedialAttempts, 0);
    Check(Quor.quor_connect(busy, out handle) == 0, "connect busy");
    Check(RunUntil(() => fails > 0), "connect-fail");
    Check(lastError == 676 && connects == 0, "busy error: " + lastError);
    Check(Quor.Utf8(Quor.quor_error_text(676)).Length > 0, "RAS text");
    Quor.quor_dialer_free(busy);
    Quor.quor_dialer_free(d);
    Console.WriteLine("QuorSample: " + failures + " failure(s)");
    return failures == 0 ? 0 : 1;
  }
}
