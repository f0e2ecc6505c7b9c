// Scenario "dialog": the plug-in runs its "Filter & Output" dialog modally on the main thread, as
// inside the host; a second thread reads and drives it, and the record is checked as saved.
// Usage: harness dialog LAYOUT   (LAYOUT: the expected window table, dialog_controls.txt)
// Scenario "dialog-show": the same dialog held open for scripts/dialog-screenshot.sh.
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/filter_output_controls.hpp"
#include "harness.hpp"
#include "scenarios.hpp"

namespace harness {

namespace {

constexpr char kCaption[] = "Filter & Output";
constexpr char kSection[] = "Meter1";

// One row of the layout file: the dialog window or one control.
struct Row {
  std::string id;
  std::string windowClass;
  std::string text;
  RECT units;  // left, top, right, bottom in dialog units
  DWORD style;
  DWORD exStyle;
  std::string font;
};

std::vector<Row> read_layout(const char* path) {
  std::vector<Row> rows;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '|');) fields.push_back(field);
    if (fields.size() != 10) {
      ok(false, "layout line has %zu fields: %s", fields.size(), line.c_str());
      continue;
    }
    const int x = std::stoi(fields[3]), y = std::stoi(fields[4]);
    rows.push_back({fields[0], fields[1], fields[2],
                    RECT{x, y, x + std::stoi(fields[5]), y + std::stoi(fields[6])},
                    static_cast<DWORD>(std::stoul(fields[7], nullptr, 16)),
                    static_cast<DWORD>(std::stoul(fields[8], nullptr, 16)), fields[9]});
  }
  return rows;
}

// What the dialog's editable controls hold.
struct Fields {
  std::string outputTemplate;
  DWORD from;  // packed as IPM_GETADDRESS reports it
  DWORD to;
  LRESULT filter;
  LRESULT zeroAddress;
  LRESULT noZeros;
};

// MAKEIPADDRESS as an unsigned value on either bitness.
constexpr DWORD field_address(DWORD a, DWORD b, DWORD c, DWORD d) {
  return a << 24 | b << 16 | c << 8 | d;
}

enum class Ending { Okay, AltF4Key, CloseCommand };

struct Run {
  HWND owner;
  DWORD hostThread;
  const std::vector<Row>* layout;
  const Fields* shown;    // expected when the dialog has opened
  const Fields* entered;  // entered before the ending; nullptr: nothing
  Ending ending;
  bool probe;      // also try Esc, Enter, the check boxes and the focus memory
  HFONT fonts[2];  // the Arial fonts seen while open, to be gone after
};

bool wait_until(const std::function<bool()>& condition) {
  // A bound for a hung dialog only; the conditions hold within milliseconds.
  for (int i = 0; i < 3000; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

std::string window_text(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string class_name(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

HWND focus_of(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(thread, &info);
  return info.hwndFocus;
}

HFONT font_of(HWND window) {
  return reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
}

std::string font_kind(HFONT font, HFONT templateFont) {
  if (font != nullptr && font == templateFont) return "template";
  LOGFONTA description{};
  if (font == nullptr || GetObjectA(font, sizeof description, &description) != sizeof description) {
    return "none";
  }
  const HDC screen = GetDC(nullptr);
  const int height = -(8 * GetDeviceCaps(screen, LOGPIXELSY)) / 72;
  ReleaseDC(nullptr, screen);
  if (lstrcmpiA(description.lfFaceName, "Arial") != 0 || description.lfHeight != height ||
      description.lfItalic || description.lfUnderline || description.lfStrikeOut ||
      description.lfCharSet != ANSI_CHARSET) {
    return std::string("other: ") + description.lfFaceName;
  }
  return description.lfWeight == FW_NORMAL ? "normal"
         : description.lfWeight == FW_BOLD ? "bold"
                                           : "other weight";
}

std::vector<HWND> children_of(HWND window) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

bool same_rect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void check_window_layout(HWND dialog, HWND owner, const Row& row) {
  ok(class_name(dialog) == row.windowClass, "dialog class %s", class_name(dialog).c_str());
  ok(window_text(dialog) == row.text, "dialog caption %s", window_text(dialog).c_str());
  // The system adds these to every dialog of this template: shown, clipping its siblings, with a
  // modal frame, and holding controls.
  const DWORD added = WS_VISIBLE | WS_CLIPSIBLINGS;
  const DWORD addedEx = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
  const auto style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
  ok((style & ~added) == row.style, "dialog style %08lx", style);
  const auto exStyle = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
  ok((exStyle & ~addedEx) == row.exStyle, "dialog extended style %08lx", exStyle);
  LOGFONTA font{};
  GetObjectA(font_of(dialog), sizeof font, &font);
  ok(lstrcmpA(font.lfFaceName, "MS Sans Serif") == 0, "dialog font %s", font.lfFaceName);
  // Size and position are the client area's, in this dialog's units, from the owner's client area.
  RECT expected{0, 0, row.units.right - row.units.left, row.units.bottom - row.units.top};
  MapDialogRect(dialog, &expected);
  RECT client;
  GetClientRect(dialog, &client);
  ok(same_rect(client, expected), "dialog client size %ldx%ld, expected %ldx%ld", client.right,
     client.bottom, expected.right, expected.bottom);
  RECT position{row.units.left, row.units.top, 0, 0};
  MapDialogRect(dialog, &position);
  POINT ownerOrigin{0, 0}, dialogOrigin{0, 0};
  ClientToScreen(owner, &ownerOrigin);
  ClientToScreen(dialog, &dialogOrigin);
  ok(dialogOrigin.x == ownerOrigin.x + position.left &&
         dialogOrigin.y == ownerOrigin.y + position.top,
     "dialog client origin %ld,%ld, expected %ld,%ld", dialogOrigin.x, dialogOrigin.y,
     ownerOrigin.x + position.left, ownerOrigin.y + position.top);
}

void check_control_layout(HWND dialog, HWND control, const Row& row) {
  const char* id = row.id.c_str();
  ok(GetDlgCtrlID(control) == std::stoi(row.id), "control %s: found %d in its place", id,
     GetDlgCtrlID(control));
  ok(lstrcmpiA(class_name(control).c_str(), row.windowClass.c_str()) == 0, "control %s: class %s",
     id, class_name(control).c_str());
  // The template and the address fields show the record; their texts are checked there.
  if (row.id != std::to_string(qv::kTemplateEdit) && row.windowClass != "SysIPAddress32") {
    ok(window_text(control) == row.text, "control %s: text \"%s\"", id,
       window_text(control).c_str());
  }
  const auto style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
  ok(style == row.style, "control %s: style %08lx, expected %08lx", id, style, row.style);
  const auto exStyle = static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE));
  ok(exStyle == row.exStyle, "control %s: extended style %08lx, expected %08lx", id, exStyle,
     row.exStyle);
  RECT expected = row.units;
  MapDialogRect(dialog, &expected);
  RECT actual;
  GetWindowRect(control, &actual);
  MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&actual), 2);
  ok(same_rect(actual, expected), "control %s: rectangle %ld,%ld-%ld,%ld, expected %ld,%ld-%ld,%ld",
     id, actual.left, actual.top, actual.right, actual.bottom, expected.left, expected.top,
     expected.right, expected.bottom);
  // A control made of inner windows (the address field) shows its text in their font.
  const HFONT templateFont = font_of(dialog);
  std::vector<HWND> shownBy = children_of(control);
  if (shownBy.empty()) shownBy.push_back(control);
  for (const HWND window : shownBy) {
    const std::string kind = font_kind(font_of(window), templateFont);
    ok(kind == row.font, "control %s: font %s, expected %s", id, kind.c_str(), row.font.c_str());
  }
}

void check_layout(HWND dialog, const Run& run) {
  const std::vector<Row>& rows = *run.layout;
  if (!ok(!rows.empty(), "layout table read")) return;
  check_window_layout(dialog, run.owner, rows[0]);
  const std::vector<HWND> controls = children_of(dialog);
  ok(controls.size() == rows.size() - 1, "%zu controls", controls.size());
  for (std::size_t i = 0; i < controls.size() && i + 1 < rows.size(); ++i) {
    check_control_layout(dialog, controls[i], rows[i + 1]);
  }
}

DWORD address_of(HWND dialog, int id) {
  DWORD address = 0;
  SendDlgItemMessageA(dialog, id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  return address;
}

void check_shown(HWND dialog, const Fields& shown, const char* when) {
  const std::string outputTemplate = window_text(GetDlgItem(dialog, qv::kTemplateEdit));
  ok(outputTemplate == shown.outputTemplate, "%s: template \"%s\"", when, outputTemplate.c_str());
  ok(address_of(dialog, qv::kFromField) == shown.from, "%s: from %08lx", when,
     address_of(dialog, qv::kFromField));
  ok(address_of(dialog, qv::kToField) == shown.to, "%s: to %08lx", when,
     address_of(dialog, qv::kToField));
  const struct {
    int id;
    LRESULT state;
  } boxes[] = {{qv::kFilterCheck, shown.filter},
               {qv::kZeroAddressCheck, shown.zeroAddress},
               {qv::kNoZerosCheck, shown.noZeros}};
  for (const auto& box : boxes) {
    const LRESULT state = SendDlgItemMessageA(dialog, box.id, BM_GETCHECK, 0, 0);
    ok(state == box.state, "%s: check box %d is %ld", when, box.id, static_cast<long>(state));
  }
}

// Posted messages are handled in order: once a later marker has arrived, so have they.
void wait_for_posted(HWND dialog) {
  static WPARAM marker = 40000;
  const HWND edit = GetDlgItem(dialog, qv::kTemplateEdit);
  PostMessageA(edit, EM_SETLIMITTEXT, ++marker, 0);
  ok(wait_until(
         [&] { return static_cast<WPARAM>(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0)) == marker; }),
     "posted keys handled");
}

void press_key(HWND target, UINT message, WPARAM key, LPARAM flags) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), 0)) << 16;
  PostMessageA(target, message, key, flags | scan | 1);
}

// Esc, Enter and their commands leave the dialog open; the check boxes toggle only themselves.
void probe_inert_input(HWND dialog, const Fields& shown) {
  const HWND edit = GetDlgItem(dialog, qv::kTemplateEdit);
  press_key(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  press_key(edit, WM_KEYDOWN, VK_RETURN, 0);
  wait_for_posted(dialog);
  SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  SendMessageA(dialog, WM_COMMAND, IDOK, 0);
  ok(IsWindow(dialog) && IsWindowVisible(dialog), "Esc, Enter, IDCANCEL, IDOK: still open");
  check_shown(dialog, shown, "after Esc and Enter");

  for (const int id : {qv::kFilterCheck, qv::kZeroAddressCheck}) {
    const HWND box = GetDlgItem(dialog, id);
    const LRESULT before = SendMessageA(box, BM_GETCHECK, 0, 0);
    SendMessageA(box, BM_CLICK, 0, 0);
    ok(SendMessageA(box, BM_GETCHECK, 0, 0) == !before, "a click toggles check box %d", id);
    for (const HWND control : children_of(dialog)) {
      ok(IsWindowEnabled(control) && IsWindowVisible(control),
         "control %d stays enabled and visible", GetDlgCtrlID(control));
    }
    SendMessageA(box, BM_CLICK, 0, 0);
  }
  check_shown(dialog, shown, "after clicking the check boxes twice");
}

// Losing activation remembers the focused control; regaining it puts the focus back there.
void probe_focus_memory(HWND dialog, DWORD hostThread) {
  const HWND edit = GetDlgItem(dialog, qv::kTemplateEdit);
  const HWND box = GetDlgItem(dialog, qv::kNoZerosCheck);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
  ok(focus_of(hostThread) == edit, "focus moved to the template");
  SendMessageA(dialog, WM_NCACTIVATE, FALSE, 0);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  ok(focus_of(hostThread) == box, "focus moved to a check box");
  SendMessageA(dialog, WM_NCACTIVATE, TRUE, 0);
  ok(focus_of(hostThread) == edit, "activation gave the focus back to the template");
}

void enter(HWND dialog, const Fields& entered) {
  SetWindowTextA(GetDlgItem(dialog, qv::kTemplateEdit), entered.outputTemplate.c_str());
  SendDlgItemMessageA(dialog, qv::kFromField, IPM_SETADDRESS, 0, static_cast<LPARAM>(entered.from));
  SendDlgItemMessageA(dialog, qv::kToField, IPM_SETADDRESS, 0, static_cast<LPARAM>(entered.to));
  SendDlgItemMessageA(dialog, qv::kFilterCheck, BM_SETCHECK, static_cast<WPARAM>(entered.filter),
                      0);
  SendDlgItemMessageA(dialog, qv::kZeroAddressCheck, BM_SETCHECK,
                      static_cast<WPARAM>(entered.zeroAddress), 0);
  SendDlgItemMessageA(dialog, qv::kNoZerosCheck, BM_SETCHECK, static_cast<WPARAM>(entered.noZeros),
                      0);
}

// The two middle parts of the "to" field left blank, as a user may leave them.
void blank_middle_of_to(HWND dialog) {
  const std::vector<HWND> parts = children_of(GetDlgItem(dialog, qv::kToField));
  if (!ok(parts.size() == 4, "the address field has four parts")) return;
  SetWindowTextA(parts[1], "");
  SetWindowTextA(parts[2], "");
  DWORD address = 0;
  const LRESULT filled = SendDlgItemMessageA(dialog, qv::kToField, IPM_GETADDRESS, 0,
                                             reinterpret_cast<LPARAM>(&address));
  ok(filled == 2, "two parts of \"to\" filled, got %ld", static_cast<long>(filled));
}

void end(HWND dialog, Ending ending) {
  switch (ending) {
    case Ending::Okay:
      SendMessageA(GetDlgItem(dialog, qv::kOkayButton), BM_CLICK, 0, 0);
      break;
    case Ending::AltF4Key:
      press_key(GetDlgItem(dialog, qv::kTemplateEdit), WM_SYSKEYDOWN, VK_F4, KF_ALTDOWN << 16);
      break;
    case Ending::CloseCommand:
      SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

HWND find_dialog(HWND owner) {
  const HWND dialog = FindWindowA("#32770", kCaption);
  return dialog != nullptr && GetWindow(dialog, GW_OWNER) == owner ? dialog : nullptr;
}

DWORD WINAPI drive(void* argument) {
  Run& run = *static_cast<Run*>(argument);
  HWND dialog = nullptr;
  if (!ok(wait_until([&] {
            dialog = find_dialog(run.owner);
            return dialog != nullptr && IsWindowVisible(dialog);
          }),
          "the dialog opened")) {
    return 0;
  }
  ok(!IsWindowEnabled(run.owner), "owner disabled while the dialog is open");
  check_layout(dialog, run);
  check_shown(dialog, *run.shown, "opened");
  run.fonts[0] = font_of(GetDlgItem(dialog, qv::kOkayButton));
  run.fonts[1] = font_of(GetDlgItem(dialog, qv::kFilterCheck));
  if (run.probe) {
    probe_inert_input(dialog, *run.shown);
    probe_focus_memory(dialog, run.hostThread);
  }
  if (run.entered != nullptr) {
    enter(dialog, *run.entered);
    if (run.probe) blank_middle_of_to(dialog);
  }
  end(dialog, run.ending);
  if (!ok(wait_until([&] { return !IsWindow(dialog); }), "the dialog closed")) {
    // Free the host thread all the same, so that the remaining runs report too.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(qv::kOkayButton, BN_CLICKED), 0);
  }
  return 0;
}

void play(const Plugin& plugin, std::int32_t instance, Run& run, const char* what) {
  std::printf("dialog: %s\n", what);
  const HANDLE driver = CreateThread(nullptr, 0, drive, &run, 0, nullptr);
  ok(plugin.source_configure(instance, "ListPorts") == 0, "%s: source_configure is 0", what);
  WaitForSingleObject(driver, INFINITE);
  CloseHandle(driver);
  ok(IsWindowEnabled(run.owner), "%s: owner enabled after", what);
  ok(GetActiveWindow() == run.owner, "%s: owner active after", what);
  for (const HFONT font : run.fonts) {
    ok(font != nullptr && GetObjectType(font) == 0, "%s: dialog font deleted", what);
  }
}

struct Saved {
  const char* key;
  std::string value;
};

void check_saved(const Plugin& plugin, std::int32_t instance, const std::string& file,
                 const std::vector<Saved>& expected, const char* what) {
  plugin.src_save_settings(instance, file.c_str(), kSection);
  for (const Saved& entry : expected) {
    char value[1000];
    GetPrivateProfileStringA(kSection, entry.key, "(missing)", value, sizeof value, file.c_str());
    ok(entry.value == value, "%s: saved %s=%s", what, entry.key, value);
  }
}

HWND create_owner() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "QuorvaneHarnessHost";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, windowClass.lpszClassName, "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                         20, 320, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
}

// The host's side: its window, a settings file with the values a user might have saved (and a
// section only a hand can write), and one instance loaded from it.
struct Host {
  HWND owner;
  std::string file;
  Plugin plugin;
  std::int32_t instance;
};

Host start_host() {
  Host host{create_owner(), full_path("dialog-settings.ini"), load_plugin(), 0};
  DeleteFileA(host.file.c_str());
  const char* initial[][2] = {{"Sot", "4242"},
                              {"Template", "%lip:%lpt -> %rip:%rpt %stat"},
                              {"fltL", "10000000138"},
                              {"fltH", "192168000255"},
                              {"fltE", "1"},
                              {"flt0", "0"},
                              {"zero", "1"}};
  for (const auto& [key, value] : initial) {
    WritePrivateProfileStringA(kSection, key, value, host.file.c_str());
  }
  WritePrivateProfileStringA("HandEdited", "fltL", "-5", host.file.c_str());
  WritePrivateProfileStringA("HandEdited", "fltH", "192999000300", host.file.c_str());
  host.instance = host.plugin.dllstartup(reinterpret_cast<std::uintptr_t>(host.owner), 0);
  host.plugin.src_load_settings(host.instance, host.file.c_str(), kSection);
  return host;
}

void stop_host(const Host& host) {
  DestroyWindow(host.owner);
  FreeLibrary(host.plugin.module);
  DeleteFileA(host.file.c_str());
}

// Holds the dialog open, once drawn, until a line arrives on standard input.
DWORD WINAPI hold(void* owner) {
  HWND dialog = nullptr;
  if (!ok(wait_until([&] {
            dialog = find_dialog(static_cast<HWND>(owner));
            return dialog != nullptr && IsWindowVisible(dialog);
          }),
          "the dialog opened")) {
    return 0;
  }
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT frame;
  GetWindowRect(dialog, &frame);
  std::printf("shown %ld %ld %ld %ld\n", frame.left, frame.top, frame.right, frame.bottom);
  std::fflush(stdout);
  char line[16];
  if (std::fgets(line, sizeof line, stdin) == nullptr) line[0] = '\0';
  SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

}  // namespace

int dialog_show(int, char**) {
  const Host host = start_host();
  if (!ok(host.owner != nullptr, "host window created")) return 1;
  const HANDLE holder = CreateThread(nullptr, 0, hold, host.owner, 0, nullptr);
  host.plugin.source_configure(host.instance, "ListPorts");
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);
  stop_host(host);
  return 0;
}

int dialog(int argc, char** argv) {
  if (argc < 1) {
    std::printf("usage: harness dialog LAYOUT\n");
    return 2;
  }
  const std::vector<Row> layout = read_layout(argv[0]);
  const Host host = start_host();
  if (!ok(host.owner != nullptr, "host window created")) return 1;
  const HWND owner = host.owner;
  const Plugin& plugin = host.plugin;
  const std::int32_t instance = host.instance;
  const std::string& file = host.file;

  const Fields loaded{"%lip:%lpt -> %rip:%rpt %stat",
                      field_address(10, 0, 0, 138),
                      field_address(192, 168, 0, 255),
                      BST_CHECKED,
                      BST_UNCHECKED,
                      BST_CHECKED};
  std::string longTemplate;
  for (int i = 0; longTemplate.size() < 600; ++i) longTemplate += "%lip:%lpt " + std::to_string(i);
  longTemplate.resize(600);
  // "from" above "to" is stored as entered; "to" is entered with its middle parts blank.
  const Fields okayed{longTemplate,
                      field_address(192, 168, 0, 1),
                      field_address(10, 0, 0, 5),
                      BST_UNCHECKED,
                      BST_CHECKED,
                      BST_UNCHECKED};
  const std::vector<Saved> okayedSaved = {{"Sot", "4242"},
                                          {"Template", longTemplate.substr(0, 511)},
                                          {"fltL", "192168000001"},
                                          {"fltH", "10000000005"},
                                          {"fltE", "0"},
                                          {"flt0", "1"},
                                          {"zero", "0"}};
  Fields reopened = okayed;
  reopened.outputTemplate = longTemplate.substr(0, 511);
  const Fields discarded{
      "%hn",      field_address(1, 2, 3, 4), field_address(5, 6, 7, 8), BST_CHECKED, BST_UNCHECKED,
      BST_CHECKED};

  const DWORD hostThread = GetCurrentThreadId();
  Run okay{owner, hostThread, &layout, &loaded, &okayed, Ending::Okay, true, {}};
  play(plugin, instance, okay, "Okay");
  check_saved(plugin, instance, file, okayedSaved, "after Okay");

  Run altF4{owner, hostThread, &layout, &reopened, &discarded, Ending::AltF4Key, false, {}};
  play(plugin, instance, altF4, "Alt+F4");
  check_saved(plugin, instance, file, okayedSaved, "after Alt+F4");

  Run close{owner, hostThread, &layout, &reopened, &discarded, Ending::CloseCommand, false, {}};
  play(plugin, instance, close, "close command");
  check_saved(plugin, instance, file, okayedSaved, "after the close command");

  // Values no dialog can store are shown as the nearest address.
  const std::int32_t handEdited = plugin.dllstartup(reinterpret_cast<std::uintptr_t>(owner), 0);
  plugin.src_load_settings(handEdited, file.c_str(), "HandEdited");
  const Fields nearest{"",
                       field_address(0, 0, 0, 0),
                       field_address(192, 255, 0, 255),
                       BST_UNCHECKED,
                       BST_UNCHECKED,
                       BST_UNCHECKED};
  Run clamped{owner, hostThread, &layout, &nearest, nullptr, Ending::CloseCommand, false, {}};
  play(plugin, handEdited, clamped, "hand-edited range");

  ok(plugin.source_configure(instance, "listports") == 0 && find_dialog(owner) == nullptr,
     "another function name opens nothing");
  stop_host(host);
  return 0;
}

}  // namespace harness
