// The render record of a window drawn through Direct2D, shared by the device
// layer (which makes, resizes, presents and drops it) and the draw back end
// (which draws into its bitmap).
#pragma once
#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "runtime/cell.hpp"
#include "view/backend/draw/backend.hpp"

namespace kel::view::d2d {

// Releases a COM object and forgets it.
template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

struct Target {
    ID2D1Bitmap1* bitmap = nullptr;  // over the swap chain's back buffer
    IDXGISwapChain1* swap_chain = nullptr;
    bool occluded = false;  // the last present found the window hidden
    // The brushes of coloured text ranges, one per colour, kept as long as
    // the record (as many as the text uses: none is made twice).
    std::unordered_map<draw::Color, ID2D1SolidColorBrush*> brushes;
    // Text ranges to paint behind the next text drawn (rich-text backdrop
    // styles): UTF-16 start and length, and the colour.
    struct Backdrop {
        uint32_t start, length;
        draw::Color color;
    };
    std::vector<Backdrop> backdrops;
    // Layered windows: the frame read back into a top-down 32-bit DIB.
    ID3D11Texture2D* staging = nullptr;
    HDC memory_dc = nullptr;
    HBITMAP dib = nullptr;
    void* dib_bits = nullptr;
    int32_t width = 0, height = 0;
};

// The window's record, made on first use (a swap chain that cannot be made
// raises no-create naming the face).
Target* window_target(HWND window, const Cell& face);
// Presents the window's frame: a test present while the window is occluded;
// a lost device drops every record and re-creates the device.
void present(HWND window, Target* target);
// The solid brush of the colour for the record's text ranges.
ID2D1SolidColorBrush* range_brush(Target* target, draw::Color color);

}  // namespace kel::view::d2d
