// quordesigner: a minimal designer host for package modules.
//
// It loads a package module the way the form designer does (load, unit
// initialisation, registration), shows what the module declares (palette,
// description, package information, palette bitmap), creates, edits, saves
// and loads forms of the registered components, and unloads the module again
// (components freed, classes forgotten, unit finalisation, module freed).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Vcl/FrameworkUnits.h"
#include "Vcl/Resources.h"
#include "Vcl/Streaming.h"
#include "Vcl/Vcl.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

typedef const PackageInfoTable*(WINAPI* TGetPackageInfoTableProc)(void);
typedef void(WINAPI* TPackageProc)(void);

const char kUsage[] =
    "usage: quordesigner MODULE [options]\n"
    "\n"
    "Loads the package MODULE (LoadLibrary, Initialize, Register), carries out\n"
    "the options in the order listed here, then unloads it (Finalize, FreeLibrary).\n"
    "\n"
    "  --list               list the palette, one \"Page: Class\" per line\n"
    "                       (the default when no other option is given)\n"
    "  --info               show the package description and package information\n"
    "  --bitmap FILE        write the first registered class's palette bitmap\n"
    "                       as a .bmp file\n"
    "  --create CLASS       create a component of CLASS\n"
    "  --name NAME          name of the created component (default: the class\n"
    "                       name without its leading T, plus 1)\n"
    "  --load FILE          read a form file and print the properties read\n"
    "  --set PROP=VALUE     set a property of the created or loaded component\n"
    "                       (may be given more than once)\n"
    "  --save FILE          save the created or loaded component as a form file\n"
    "  --help               show this text\n"
    "\n"
    "Exit status: 0 done, 1 an operation failed, 2 wrong usage.\n";

struct Options {
  String Module;
  bool List = false;
  bool Info = false;
  String Bitmap;
  String Create;
  String Name;
  String Load;
  std::vector<std::pair<String, String>> Sets;
  String Save;
};

struct UsageError {
  String Msg;
};

Options ParseArgs(int argc, char** argv, bool& Help) {
  Options o;
  Help = false;
  std::vector<String> args(argv + 1, argv + argc);
  auto value = [&](size_t& i, const String& opt) -> String {
    if (i + 1 >= args.size() || args[i + 1].empty()) throw UsageError{opt + " needs a value"};
    return args[++i];
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    if (a == "--help" || a == "-h") {
      Help = true;
      return o;
    } else if (a == "--list") {
      o.List = true;
    } else if (a == "--info") {
      o.Info = true;
    } else if (a == "--bitmap") {
      o.Bitmap = value(i, a);
    } else if (a == "--create") {
      if (!o.Create.empty()) throw UsageError{"--create may be given once"};
      o.Create = value(i, a);
    } else if (a == "--name") {
      o.Name = value(i, a);
    } else if (a == "--load") {
      if (!o.Load.empty()) throw UsageError{"--load may be given once"};
      o.Load = value(i, a);
    } else if (a == "--save") {
      o.Save = value(i, a);
    } else if (a == "--set") {
      const String s = value(i, a);
      const size_t eq = s.find('=');
      if (eq == String::npos || eq == 0) throw UsageError{"--set expects PROP=VALUE, not '" + s + "'"};
      o.Sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else if (o.Module.empty()) {
      o.Module = a;
    } else {
      throw UsageError{"unexpected argument " + a};
    }
  }
  if (o.Module.empty()) throw UsageError{"no package module given"};
  if (!o.Create.empty() && !o.Load.empty()) throw UsageError{"--create and --load cannot be combined"};
  if (o.Create.empty() && o.Load.empty()) {
    if (!o.Sets.empty()) throw UsageError{"--set needs --create or --load"};
    if (!o.Save.empty()) throw UsageError{"--save needs --create or --load"};
    if (!o.Name.empty()) throw UsageError{"--name needs --create"};
  }
  if (!o.Name.empty() && o.Create.empty()) throw UsageError{"--name needs --create"};
  if (!o.List && !o.Info && o.Bitmap.empty() && o.Create.empty() && o.Load.empty()) o.List = true;
  return o;
}

// A loaded package module. Everything it put into the framework is taken
// back before it is freed: the components made of its classes, its palette
// entries and classes, its units.
class LoadedPackage {
 public:
  explicit LoadedPackage(const String& Path) : fPath(Path) {
    fModule = LoadLibraryA(Path.c_str());
    if (fModule == 0)
      throw Exception("cannot load package module " + Path + " (error " + std::to_string(GetLastError()) + ")");
    fGetTable = reinterpret_cast<TGetPackageInfoTableProc>(reinterpret_cast<void*>(Proc("GetPackageInfoTable")));
    fInitialize = reinterpret_cast<TPackageProc>(reinterpret_cast<void*>(Proc("Initialize")));
    fFinalize = reinterpret_cast<TPackageProc>(reinterpret_cast<void*>(Proc("Finalize")));
    fRegister = reinterpret_cast<TPackageProc>(reinterpret_cast<void*>(Proc("Register")));
    if (fGetTable == nullptr || fInitialize == nullptr || fFinalize == nullptr) {
      FreeLibrary(fModule);
      throw Exception(Path + " is not a package module: it lacks " + fMissing);
    }
    // Classes the module registers, to be forgotten before it goes.
    SetRegisterComponentsHook([this](const String&, const std::vector<TComponentClass>& Classes) {
      for (TComponentClass c : Classes) fClasses.push_back(c);
    });
    try {
      fInitialize();
      fInitialized = true;
      if (fRegister != nullptr) fRegister();
    } catch (...) {
      Unload();
      throw;
    }
  }
  ~LoadedPackage() { Unload(); }
  LoadedPackage(const LoadedPackage&) = delete;
  LoadedPackage& operator=(const LoadedPackage&) = delete;

  HMODULE Module() const { return fModule; }
  bool HasRegister() const { return fRegister != nullptr; }
  const std::vector<TComponentClass>& Classes() const { return fClasses; }

  // The form's root: owner of every component made of the module's classes.
  TComponent& Form() { return *fForm; }

 private:
  FARPROC Proc(const char* Name) {
    FARPROC p = GetProcAddress(fModule, Name);
    if (p == nullptr && std::string(Name) != "Register") fMissing += (fMissing.empty() ? "" : ", ") + String(Name);
    return p;
  }

  void Unload() noexcept {
    if (fModule == 0) return;
    try {
      fForm.reset(new TComponent(nullptr));  // frees the components first
      SetRegisterComponentsHook(nullptr);
      ClearPalette();
      for (TComponentClass c : fClasses) UnRegisterClass(c);
      fClasses.clear();
      if (fInitialized) fFinalize();
    } catch (const std::exception& e) {
      std::cerr << "quordesigner: while unloading " << fPath << ": " << e.what() << "\n";
    }
    fInitialized = false;
    FreeLibrary(fModule);
    fModule = 0;
  }

  String fPath;
  HMODULE fModule = 0;
  TGetPackageInfoTableProc fGetTable = nullptr;
  TPackageProc fInitialize = nullptr;
  TPackageProc fFinalize = nullptr;
  TPackageProc fRegister = nullptr;
  String fMissing;
  bool fInitialized = false;
  std::vector<TComponentClass> fClasses;
  std::unique_ptr<TComponent> fForm = std::make_unique<TComponent>(nullptr);
};

String FlagsText(uint32_t Flags) {
  String s;
  auto add = [&s](const char* t) { s += (s.empty() ? "" : ", ") + String(t); };
  switch (Flags & pfModuleTypeMask) {
    case pfPackageModule:
      add("package module");
      break;
    case pfLibraryModule:
      add("library module");
      break;
    case pfExeModule:
      add("executable module");
      break;
    default:
      add("unknown module type");
      break;
  }
  if (Flags & pfDesignOnly) add("design-time only");
  if (Flags & pfRunOnly) add("run-time only");
  if (Flags & pfNeverBuild) add("never build");
  if (Flags & pfIgnoreDupUnits) add("ignore duplicate units");
  return s;
}

String UnitFlagsText(uint8_t Flags) {
  String s;
  auto add = [&s](const char* t) { s += (s.empty() ? "" : ", ") + String(t); };
  if (Flags & ufMainUnit) add("main");
  if (Flags & ufPackageUnit) add("package");
  if (Flags & ufWeakUnit) add("weak");
  if (Flags & ufImplicitUnit) add("implicit");
  return s.empty() ? String("-") : s;
}

void ShowInfo(const LoadedPackage& Pkg) {
  std::vector<uint8_t> data;
  String text;
  if (!LoadModuleResource(Pkg.Module(), QUOR_RT_RCDATA, "DESCRIPTION", data))
    throw Exception("the module has no DESCRIPTION resource");
  if (!DecodePackageDescription(data, text)) throw Exception("the module's DESCRIPTION resource is malformed");
  std::cout << "Description: " << text << "\n";
  if (!LoadModuleResource(Pkg.Module(), QUOR_RT_RCDATA, "PACKAGEINFO", data))
    throw Exception("the module has no PACKAGEINFO resource");
  TPackageInfoData info;
  String why;
  if (!DecodePackageInfo(data, info, &why)) throw Exception("the module's PACKAGEINFO resource is malformed: " + why);
  std::printf("Flags: 0x%08X (%s)\n", static_cast<unsigned>(info.Flags), FlagsText(info.Flags).c_str());
  std::cout << std::flush;
  for (const String& r : info.Requires) std::cout << "Requires: " << r << "\n";
  for (const TPackageUnitInfo& u : info.Contains)
    std::cout << "Contains: " << u.Name << " (" << UnitFlagsText(u.Flags) << ")\n";
}

void WriteBitmap(const LoadedPackage& Pkg, const String& File) {
  if (Pkg.Classes().empty()) throw Exception("the module registered no class, so there is no palette bitmap");
  const String name = UpperCase(Pkg.Classes().front()->ClassName);
  std::vector<uint8_t> dib;
  if (!LoadModuleResource(Pkg.Module(), QUOR_RT_BITMAP, name.c_str(), dib))
    throw Exception("the module has no bitmap resource " + name);
  const std::vector<uint8_t> bmp = DibToBitmapFile(dib);
  TDibInfo d;
  DescribeDib(dib, d);
  // Through a temporary file, so a failed write leaves no half bitmap behind.
  const String temp = File + ".~tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) throw Exception("cannot create " + temp);
    f.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    f.close();
    if (!f) {
      std::remove(temp.c_str());
      throw Exception("cannot write " + temp);
    }
  }
  std::error_code ec;
  std::filesystem::rename(temp, File, ec);  // replaces an existing file in one step
  if (ec) {
    std::remove(temp.c_str());
    throw Exception("cannot write " + File + ": " + ec.message());
  }
  std::cout << "Bitmap " << name << ": " << d.Width << "x" << (d.Height < 0 ? -d.Height : d.Height) << ", "
            << d.BitCount << " bits per pixel, " << d.Colors << " colours, " << bmp.size() << " bytes written to "
            << File << "\n";
}

void PrintProperties(const TComponent& C, TMethodNameMap& Names) {
  std::cout << (C.Name().empty() ? String("(unnamed)") : C.Name()) << ": " << C.ClassName() << "\n";
  for (const TPropInfo* p : PublishedProperties(C.ClassInfo())) {
    if (!p->Get) continue;
    if (p->Kind == TTypeKind::Method) {
      const String handler = Names.NameOf(C.Name(), p->Name);
      std::cout << "  " << p->Name << " = " << (handler.empty() ? String("(none)") : handler) << "\n";
      continue;
    }
    TPropValue v = p->Get(C);
    v.Kind = p->Kind;
    std::cout << "  " << p->Name << " = " << FormatPropValue(v) << "\n";
  }
}

String DefaultName(const String& ClassName) {
  String base = ClassName;
  if (base.size() > 1 && (base[0] == 'T' || base[0] == 't')) base = base.substr(1);
  return base + "1";
}

int Run(const Options& O) {
  LoadedPackage pkg(O.Module);
  if (O.List) {
    for (const TPaletteEntry& e : PaletteEntries()) std::cout << e.Page << ": " << e.Class->ClassName << "\n";
  }
  if (O.Info) ShowInfo(pkg);
  if (!O.Bitmap.empty()) WriteBitmap(pkg, O.Bitmap);

  TMethodNameMap names;
  TFormMethods methods = names.Methods();
  TComponent* c = nullptr;
  if (!O.Create.empty()) {
    TComponentClass cls = FindClass(O.Create);
    if (cls == nullptr || !cls->Create) throw Exception("unknown class " + O.Create);
    const String name = O.Name.empty() ? DefaultName(cls->ClassName) : O.Name;
    if (!IsValidIdent(name)) throw Exception("'" + name + "' is not a valid component name");
    c = cls->Create(&pkg.Form());
    if (c == nullptr) throw Exception("cannot create " + cls->ClassName);
    c->SetName(name);
  } else if (!O.Load.empty()) {
    c = ReadComponentFile(O.Load, &pkg.Form(), &methods);
    std::cout << "Read " << O.Load << ":\n";
    PrintProperties(*c, names);
  }
  if (c != nullptr) {
    for (const auto& [prop, text] : O.Sets) {
      const TPropInfo* p = FindPublishedProperty(c->ClassInfo(), prop);
      if (p == nullptr) throw Exception(c->ClassName() + " has no property " + prop);
      if (!p->Set) throw Exception("property " + p->Name + " is read-only");
      const TPropValue v = PropValueFromText(*p, text);
      if (p->Kind == TTypeKind::Method)
        names.SetName(c->Name(), p->Name, v.Str);
      else
        p->Set(*c, v);
    }
    if (!O.Save.empty()) {
      WriteComponentFile(O.Save, *c, &methods);
      std::cout << "Saved " << c->Name() << " to " << O.Save << "\n";
    }
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    bool help = false;
    o = ParseArgs(argc, argv, help);
    if (help) {
      std::cout << kUsage;
      return kExitOk;
    }
  } catch (const UsageError& e) {
    std::cerr << "quordesigner: " << e.Msg << "\n"
              << "Try 'quordesigner --help'.\n";
    return kExitUsage;
  }
  // The host's own framework units come first and go last, so a module's
  // unload only finalises the units that are its own.
  int rc = kExitOk;
  try {
    InitializePackage(FrameworkPackageTable());
  } catch (const std::exception& e) {
    std::cerr << "quordesigner: " << e.what() << "\n";
    return kExitFailed;
  }
  try {
    rc = Run(o);
  } catch (const std::exception& e) {
    std::cerr << "quordesigner: " << e.what() << "\n";
    rc = kExitFailed;
  }
  try {
    FinalizePackage(FrameworkPackageTable());
  } catch (const std::exception& e) {
    std::cerr << "quordesigner: " << e.what() << "\n";
    rc = kExitFailed;
  }
  return rc;
}
