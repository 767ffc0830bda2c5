// The Direct2D device layer: the process-wide graphics objects every window
// is drawn through. One Direct2D and one DirectWrite factory, one Direct3D 11
// device (hardware, or WARP) and the one Direct2D device context all windows
// share; per window, a render record made on its first paint: its swap chain
// and the target bitmap over the back buffer.
//
// The window code calls, on the GUI thread:
//   init_factories        once at GUI start-up (false: no DirectWrite, so no
//                         Direct2D: windows are then not drawn through here);
//   paint_window          from WM_PAINT of a drawn face (after BeginPaint or
//                         before ValidateRect: the window code owns that);
//   resize_window         from WM_SIZE, with the new client size;
//   release_window        from WM_DESTROY (or WM_NCDESTROY);
//   update_layered        for a layered window after paint_window(.., true);
//   create_device         for toggle-GPU (system/view/GPU? chooses the driver);
//   release_factories     at GUI shutdown.
//
// A present that reports the device removed or reset drops the render record
// of every window, re-creates the device and invalidates those windows, so
// they repaint on the new device.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

struct ID2D1DeviceContext;
struct ID2D1Factory1;
struct IDWriteFactory;
struct IDWriteTextFormat;

namespace kel::view::d2d {

bool init_factories();
void release_factories();
// DX-create-dev: releases the device objects when there are some, then makes
// them: hardware when system/view/GPU? is not false, else WARP, and WARP once
// more when the first creation fails. False when no device could be made.
bool create_device();
bool has_device();
// True when the last device made is a WARP device.
bool device_is_warp();

// Draws the face into its window: the background (the face's color, image
// and text), then its draw facet, as the draw dialect's window entry with the
// strict flag (an error stops the drawing and is dropped). A layered window
// is not presented: read its frame with update_layered.
void paint_window(HWND window, const Cell& face, bool layered = false);
// The same with a draw block of the caller's (the draw-face routine: the
// console paints its face with a block of its own).
void paint_window(HWND window, const Cell& face, const Cell& commands, bool layered = false);
// A paint that the face's drawing actor draws in, call by call: begin_paint
// opens the window's drawing (the face's background drawn), draw_in_paint
// walks a block into it (nothing for another window), end_paint presents
// it. One paint is open at a time: begin_paint answers false while one is.
bool begin_paint(HWND window, const Cell& face);
bool painting();
void draw_in_paint(HWND window, const Cell& commands);
void end_paint(HWND window);
void resize_window(HWND window, int32_t width, int32_t height);
void release_window(HWND window);
// A memory DC holding the layered window's current frame (for
// UpdateLayeredWindow), or null when there is none to read (no device, no
// record, an empty client area). It stays the window's until its next call.
HDC update_layered(HWND window);

// The shared objects, for the draw back end and text layout (null before
// init_factories / create_device).
ID2D1Factory1* factory();
IDWriteFactory* write_factory();
ID2D1DeviceContext* device_context();
float drawing_dpi();
const wchar_t* user_locale();

// Test seam: the next present reports DXGI_ERROR_DEVICE_REMOVED once.
void inject_device_removed();
// How many times the device was made (tests see a device loss re-create it).
int32_t device_generation();
// How many brushes the window's record keeps for coloured text ranges.
size_t text_brush_count(HWND window);

}  // namespace kel::view::d2d
