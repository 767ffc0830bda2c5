// The window classes of the back end: five of its own and eleven copies of
// system classes under names of its own, each copy remembering the
// procedure of the class it was copied from.
#include <windows.h>

#include <cstring>

#include "runtime/output.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {

const wchar_t* const class_window = L"KelWindow";
const wchar_t* const class_panel = L"KelPanel";
const wchar_t* const class_base = L"KelBase";
const wchar_t* const class_internal = L"KelBaseInternal";

namespace {

struct Copied {
    const wchar_t* name;
    WNDPROC original;
    int extra;  // the copied class's own extra bytes; ours follow them
};
Copied copies[16];
int copy_count = 0;

void register_own(const wchar_t* name, WNDPROC procedure, int background) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    c.lpfnWndProc = procedure;
    c.cbWndExtra = sizeof(void*);
    c.hInstance = state.module;
    c.hIcon = LoadIconW(state.module, MAKEINTRESOURCEW(1));
    c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(INT_PTR(background + 1));
    c.lpszClassName = name;
    RegisterClassExW(&c);
}

// A copy of a class (a system one, or one of ours) under a new name. When
// the class cannot be read the copy is not registered: faces of its types
// then fail to be made, with the creation failure's message.
void register_copy(const wchar_t* name, const wchar_t* from, bool system, WNDPROC subclass) {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    if (!GetClassInfoExW(system ? nullptr : state.module, from, &c)) {
        static const char text[] = "*** Error in GetClassInfoEx";
        stdio::print_latin1_line(text, sizeof text - 1);
        return;
    }
    // The system's procedure keeps its own window bytes: ours come after them.
    int extra = system ? c.cbWndExtra : data_offset(from);
    copies[copy_count++] = {name, system ? c.lpfnWndProc : original_procedure(from), extra};
    c.cbSize = sizeof c;
    c.cbWndExtra = extra + int(sizeof(void*));
    c.hInstance = state.module;
    c.lpszClassName = name;
    c.lpfnWndProc = subclass ? subclass : control_subclass;
    RegisterClassExW(&c);
}

}  // namespace

WNDPROC original_procedure(const wchar_t* class_name) {
    for (int i = 0; i < copy_count; ++i)
        if (_wcsicmp(copies[i].name, class_name) == 0) return copies[i].original;
    return DefWindowProcW;
}

int data_offset(const wchar_t* class_name) {
    for (int i = 0; i < copy_count; ++i)
        if (_wcsicmp(copies[i].name, class_name) == 0) return copies[i].extra;
    return 0;
}

void register_classes() {
    register_own(class_window, main_procedure, COLOR_BTNFACE);
    register_own(class_panel, main_procedure, COLOR_BTNFACE);
    register_own(class_base, base_procedure, COLOR_BTNFACE);
    register_own(class_internal, internal_procedure, COLOR_BTNFACE);
    register_own(L"KelCamera", camera_procedure, COLOR_BACKGROUND);
    register_copy(L"KelButton", L"BUTTON", true, nullptr);
    register_copy(L"KelListBox", L"ListBox", true, nullptr);
    register_copy(L"KelProgress", L"msctls_progress32", true, nullptr);
    register_copy(L"KelSlider", L"msctls_trackbar32", true, nullptr);
    register_copy(L"KelScroller", L"SCROLLBAR", true, nullptr);
    register_copy(L"KelTabpanel", L"SysTabControl32", true, nullptr);
    register_copy(L"KelCombo", L"ComboBox", true, combo_subclass);
    register_copy(L"KelFace", L"STATIC", true, text_subclass);
    register_copy(L"KelCalendar", L"SysMonthCal32", true, calendar_subclass);
    register_copy(L"KelArea", L"EDIT", true, edit_subclass);
    register_copy(L"KelField", L"KelArea", false, edit_subclass);
}

}  // namespace kel::view::win32
