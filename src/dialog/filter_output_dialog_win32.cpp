// The "Filter & Output" dialog on Win32: an in-memory template without items, the controls made
// from a constant table, the configured instance's record loaded on open and stored on "Okay".
#include <windows.h>
// commctrl.h builds on the types of windows.h.
#include <commctrl.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

#include "common/text.hpp"
#include "dialog/address_field.hpp"
#include "dialog/filter_output_controls.hpp"
#include "dialog/filter_output_dialog.hpp"
#include "host/host_state.hpp"

// The linker's own name for this module's base, hence the reserved identifier.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier)

namespace qv {

namespace {

// The template is always Unicode, even for DialogBoxIndirectParamA; its variable part follows the
// 18-byte header word by word.
#pragma pack(push, 2)
struct DialogTemplate {
  DLGTEMPLATE header;
  WORD menu;
  WORD windowClass;
  wchar_t caption[16];
  WORD pointSize;
  wchar_t face[14];
};
#pragma pack(pop)
static_assert(offsetof(DialogTemplate, menu) == 18);

// A popup with a caption and a modal frame in the template's font; it exists even when a control
// cannot be made.
constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_NOFAILCREATE | DS_3DLOOK;

alignas(DWORD) const DialogTemplate kDialogTemplate = {
    {kDialogStyle, 0, 0, 230, 204, 117, 198}, 0, 0, L"Filter & Output", 8, L"MS Sans Serif"};

enum class ControlFont { Template, Normal, Bold };

struct ControlSpec {
  int id;
  const char* windowClass;
  const char* text;
  short x, y, width, height;  // dialog units
  DWORD style;
  DWORD exStyle;
  ControlFont font;
};

// The legend and the group frames take no part in the tab order.
constexpr DWORD kGroupStyle = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;
constexpr DWORD kCheckStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kAddressStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
constexpr DWORD kEditStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;

constexpr auto kTemplateFont = ControlFont::Template;
constexpr auto kNormal = ControlFont::Normal;
constexpr auto kBold = ControlFont::Bold;

// Creation order, which is also the tab order.
constexpr ControlSpec kControls[] = {
    {kFilterGroup, "BUTTON", "", 6, 4, 105, 55, kGroupStyle, 0, kTemplateFont},
    {kFromField, WC_IPADDRESSA, "000.000.000.000", 26, 28, 80, 11, kAddressStyle, 0, kNormal},
    {kZeroAddressCheck, "BUTTON", "0.0.0.0", 26, 16, 75, 9, kCheckStyle, 0, kNormal},
    {kToField, WC_IPADDRESSA, "000.000.000.000", 26, 38, 80, 11, kAddressStyle, 0, kNormal},
    {kFromLabel, "STATIC", "from", 11, 29, 15, 9, kLabelStyle, 0, kNormal},
    {kFilterCheck, "BUTTON", "Filter", 11, 4, 32, 9, kCheckStyle, 0, kBold},
    {kToLabel, "STATIC", "to", 11, 40, 15, 9, kLabelStyle, 0, kNormal},
    {kOkayButton, "BUTTON", "Okay", 78, 174, 35, 12, kButtonStyle, 0, kNormal},
    {kTemplateEdit, "EDIT", "TextBox1", 10, 79, 99, 11, kEditStyle, WS_EX_CLIENTEDGE, kNormal},
    {kLocalAddressPlaceholder, "STATIC", "%lip", 13, 92, 20, 9, kLabelStyle, 0, kBold},
    {kLocalPortPlaceholder, "STATIC", "%lpt", 13, 100, 20, 9, kLabelStyle, 0, kBold},
    {kRemoteAddressPlaceholder, "STATIC", "%rip", 13, 108, 20, 9, kLabelStyle, 0, kBold},
    {kRemotePortPlaceholder, "STATIC", "%rpt", 13, 116, 20, 9, kLabelStyle, 0, kBold},
    {kStatePlaceholder, "STATIC", "%stat", 13, 124, 20, 9, kLabelStyle, 0, kBold},
    {kProcessIdPlaceholder, "STATIC", "%pid", 13, 132, 20, 9, kLabelStyle, 0, kBold},
    {kProgramPlaceholder, "STATIC", "%nm", 13, 140, 20, 9, kLabelStyle, 0, kBold},
    {kLocalAddressMeaning, "STATIC", "--> Local IP", 34, 92, 72, 9, kLabelStyle, 0, kNormal},
    {kLocalPortMeaning, "STATIC", "--> Local Port", 34, 100, 72, 9, kLabelStyle, 0, kNormal},
    {kRemoteAddressMeaning, "STATIC", "--> Remote IP", 34, 108, 72, 9, kLabelStyle, 0, kNormal},
    {kRemotePortMeaning, "STATIC", "--> Remote Port", 34, 116, 72, 9, kLabelStyle, 0, kNormal},
    {kStateMeaning, "STATIC", "--> Status", 34, 124, 72, 9, kLabelStyle, 0, kNormal},
    {kProcessIdMeaning, "STATIC", "--> Process ID", 34, 132, 72, 9, kLabelStyle, 0, kNormal},
    {kProgramMeaning, "STATIC", "--> Program", 34, 140, 72, 9, kLabelStyle, 0, kNormal},
    {kOutputGroup, "BUTTON", "Output", 7, 67, 105, 105, kGroupStyle, 0, kBold},
    {kHostNamePlaceholder, "STATIC", "%hn", 13, 148, 20, 9, kLabelStyle, 0, kBold},
    {kHostNameMeaning, "STATIC", "--> Hostname", 34, 148, 72, 9, kLabelStyle, 0, kNormal},
    {kNoZerosCheck, "BUTTON", "No Zeros in Front", 16, 159, 90, 9, kCheckStyle, 0, kNormal},
};

struct FontDeleter {
  void operator()(HFONT font) const { DeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The two Arial fonts live from before the dialog opens until after it has closed.
struct DialogFonts {
  Font normal;
  Font bold;
};

Font arial_font(int height, LONG weight) {
  LOGFONTA description{};
  description.lfHeight = height;
  description.lfWeight = weight;
  description.lfCharSet = ANSI_CHARSET;
  std::strcpy(description.lfFaceName, "Arial");
  return Font(CreateFontIndirectA(&description));
}

DialogFonts create_fonts() {
  const HDC screen = GetDC(nullptr);
  const int height = DialogFontHeight(GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  DialogFonts fonts;
  fonts.normal = arial_font(height, FW_NORMAL);
  fonts.bold = arial_font(height, FW_BOLD);
  return fonts;
}

// The control that had the keyboard focus when the dialog last lost activation.
HWND savedFocusWindow = nullptr;

BOOL CALLBACK set_inner_font(HWND inner, LPARAM font) {
  SendMessageA(inner, WM_SETFONT, static_cast<WPARAM>(font), 0);
  return TRUE;
}

void create_controls(HWND dialog, const DialogFonts& fonts) {
  const auto module = reinterpret_cast<HINSTANCE>(&__ImageBase);
  const auto templateFont = static_cast<WPARAM>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  for (const ControlSpec& spec : kControls) {
    RECT rect{spec.x, spec.y, spec.x + spec.width, spec.y + spec.height};
    MapDialogRect(dialog, &rect);
    const HWND control =
        CreateWindowExA(spec.exStyle, spec.windowClass, spec.text, spec.style, rect.left, rect.top,
                        rect.right - rect.left, rect.bottom - rect.top, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), module, nullptr);
    const WPARAM font = spec.font == ControlFont::Template ? templateFont
                        : spec.font == ControlFont::Bold
                            ? reinterpret_cast<WPARAM>(fonts.bold.get())
                            : reinterpret_cast<WPARAM>(fonts.normal.get());
    SendMessageA(control, WM_SETFONT, font, 0);
    // Wine: the address field keeps its font to itself; its four part editors need it directly.
    EnumChildWindows(control, set_inner_font, static_cast<LPARAM>(font));
  }
}

void show_check(HWND dialog, int id, std::int32_t value) {
  SendDlgItemMessageA(dialog, id, BM_SETCHECK, static_cast<WPARAM>(static_cast<INT_PTR>(value)), 0);
}

std::int32_t check_state(HWND dialog, int id) {
  return static_cast<std::int32_t>(SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

void show_address(HWND dialog, int id, std::int64_t value) {
  const HWND field = GetDlgItem(dialog, id);
  AddressText text;
  NumberToAddressText(value, text);
  SetWindowTextA(field, text);
  // Wine: the field ignores its window text; the address message sets the four parts everywhere.
  SendMessageA(field, IPM_SETADDRESS, 0, static_cast<LPARAM>(NumberToFieldAddress(value)));
}

std::int64_t entered_address(HWND dialog, int id) {
  DWORD address = 0;
  SendDlgItemMessageA(dialog, id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  return AddressFieldToNumber(address);
}

void load_record(HWND dialog) {
  // Reached afresh by index: the table may move while the modal loop serves the host's windows.
  const InstanceSettings* record = instance_record(host.configuredInstance);
  if (record == nullptr) return;
  char outputTemplate[sizeof record->outputTemplate];
  store_text(outputTemplate, field_text(record->outputTemplate));
  SetDlgItemTextA(dialog, kTemplateEdit, outputTemplate);
  show_check(dialog, kNoZerosCheck, record->noLeadingZeros);
  show_check(dialog, kFilterCheck, record->filterEnabled);
  show_check(dialog, kZeroAddressCheck, record->hideZeroAddress);
  show_address(dialog, kFromField, record->rangeLow);
  show_address(dialog, kToField, record->rangeHigh);
}

void store_record(HWND dialog) {
  InstanceSettings* record = instance_record(host.configuredInstance);
  if (record == nullptr) return;
  record->rangeLow = entered_address(dialog, kFromField);
  record->rangeHigh = entered_address(dialog, kToField);
  record->filterEnabled = check_state(dialog, kFilterCheck);
  record->hideZeroAddress = check_state(dialog, kZeroAddressCheck);
  char outputTemplate[sizeof record->outputTemplate] = {};
  GetDlgItemTextA(dialog, kTemplateEdit, outputTemplate, sizeof outputTemplate);
  store_text(record->outputTemplate, outputTemplate);
  record->noLeadingZeros = check_state(dialog, kNoZerosCheck);
}

INT_PTR CALLBACK FilterOutputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      create_controls(dialog, *reinterpret_cast<const DialogFonts*>(lParam));
      load_record(dialog);
      break;
    case WM_NCACTIVATE:
      if (wParam == 0) {
        savedFocusWindow = GetFocus();
      } else if (savedFocusWindow != nullptr) {
        // The saved window may belong to a dialog closed since; only this dialog's own controls
        // take the focus back.
        if (IsChild(dialog, savedFocusWindow)) SetFocus(savedFocusWindow);
        savedFocusWindow = nullptr;
      }
      break;
    case WM_COMMAND:
      if (LOWORD(wParam) == kOkayButton && HIWORD(wParam) <= 1) {
        store_record(dialog);
        EndDialog(dialog, 0);
      }
      break;
    case WM_SYSCOMMAND:
      // Left to the default handling, the close command would come back as WM_CLOSE and then as
      // IDCANCEL, the same command as Esc, which must leave the dialog open.
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::int32_t ShowFilterOutputDialog(HostWindow ownerWindow) {
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&classes);
  const DialogFonts fonts = create_fonts();
  DialogBoxIndirectParamA(reinterpret_cast<HINSTANCE>(&__ImageBase), &kDialogTemplate.header,
                          reinterpret_cast<HWND>(ownerWindow), FilterOutputDialogProc,
                          reinterpret_cast<LPARAM>(&fonts));
  return 0;
}

}  // namespace qv
