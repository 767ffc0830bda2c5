#include "view/backend/win32/d2d.hpp"

#include <d2d1_1.h>
#include <d3d11.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <unordered_map>

#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/output.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/win32/d2d_target.hpp"

namespace kel::view::d2d {
namespace {

struct Factories {
    HMODULE dwrite_dll = nullptr;
    IDWriteFactory* write = nullptr;
    ID2D1Factory1* d2d = nullptr;
    wchar_t locale[85] = L"en-us";
    bool no_d2d = false;
} factories;

struct Device {
    ID3D11Device* d3d = nullptr;
    ID3D11DeviceContext* immediate = nullptr;
    ID2D1DeviceContext* dc = nullptr;
    IDXGIFactory2* dxgi = nullptr;
    float dpi = 96.0f;
    bool warp = false;
    int32_t generation = 0;
} device;

bool device_removed_injected = false;

// The render records, by window.
std::unordered_map<HWND, Target*> targets;

// system/view/GPU?: only a false asks for WARP.
bool gpu_wanted() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    const Cell* gpu = view ? environment::field(*view, "GPU?") : nullptr;
    return !(gpu && cell::is(gpu, type::logic) && !cell::logic(gpu));
}

void release_device() {
    release(device.dc);
    release(device.immediate);
    release(device.d3d);
    release(device.dxgi);
}

void bind_back_buffer(Target* t) {
    IDXGISurface* surface = nullptr;
    if (FAILED(t->swap_chain->GetBuffer(0, __uuidof(IDXGISurface), reinterpret_cast<void**>(&surface)))) return;
    device.dc->SetDpi(device.dpi, device.dpi);
    D2D1_BITMAP_PROPERTIES1 props = D2D1::BitmapProperties1(
        D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), device.dpi, device.dpi);
    device.dc->CreateBitmapFromDxgiSurface(surface, &props, &t->bitmap);
    surface->Release();
}

// A swap chain as large as the client area; a failure raises no-create
// naming the face.
void create_swap_chain(HWND window, Target* t, const Cell& face) {
    RECT r{};
    GetClientRect(window, &r);
    DXGI_SWAP_CHAIN_DESC1 desc{};
    desc.Width = UINT(r.right - r.left);
    desc.Height = UINT(r.bottom - r.top);
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.Scaling = DXGI_SCALING_STRETCH;
    desc.SwapEffect = DXGI_SWAP_EFFECT_SEQUENTIAL;
    desc.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
    if (FAILED(device.dxgi->CreateSwapChainForHwnd(device.d3d, window, &desc, nullptr, nullptr, &t->swap_chain))) {
        delete t;
        error::fire(error::id::no_create, &face);
    }
    bind_back_buffer(t);
}

void release_layered(Target* t) {
    release(t->staging);
    if (t->memory_dc) DeleteDC(t->memory_dc);
    if (t->dib) DeleteObject(t->dib);
    t->memory_dc = nullptr;
    t->dib = nullptr;
    t->dib_bits = nullptr;
}

void release_target(Target* t) {
    for (auto& [color, brush] : t->brushes) brush->Release();
    release(t->bitmap);
    release(t->swap_chain);
    release_layered(t);
    delete t;
}

// Device removed or reset: every window's record goes (each window repaints
// and makes its record again on the new device).
void device_lost(HWND window) {
    for (auto& [w, t] : targets) {
        release_target(t);
        if (w != window) InvalidateRect(w, nullptr, FALSE);
    }
    targets.clear();
    if (device.immediate) {
        device.immediate->ClearState();
        device.immediate->Flush();
    }
    create_device();
    InvalidateRect(window, nullptr, FALSE);
}

}  // namespace

bool init_factories() {
    if (factories.write) return true;
    factories.dwrite_dll = LoadLibraryW(L"DWrite.dll");
    if (!factories.dwrite_dll) {
        factories.no_d2d = true;
        return false;
    }
    using CreateWrite = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create_write = reinterpret_cast<CreateWrite>(GetProcAddress(factories.dwrite_dll, "DWriteCreateFactory"));
    using LocaleName = int(WINAPI*)(LPWSTR, int);
    if (auto locale = reinterpret_cast<LocaleName>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                  "GetUserDefaultLocaleName")))
        if (locale(factories.locale, 85) == 0) wcscpy(factories.locale, L"en-us");
    D2D1_FACTORY_OPTIONS options{};
    if (!create_write ||
        FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), &options,
                                 reinterpret_cast<void**>(&factories.d2d))) ||
        FAILED(create_write(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                            reinterpret_cast<IUnknown**>(&factories.write)))) {
        release(factories.d2d);
        factories.no_d2d = true;
        return false;
    }
    create_device();
    return true;
}

void release_factories() {
    for (auto& [w, t] : targets) release_target(t);
    targets.clear();
    release_device();
    release(factories.write);
    release(factories.d2d);
}

bool create_device() {
    if (!factories.d2d) return false;
    release_device();
    constexpr UINT flags = D3D11_CREATE_DEVICE_SINGLETHREADED | D3D11_CREATE_DEVICE_BGRA_SUPPORT;
    D3D_DRIVER_TYPE driver = gpu_wanted() ? D3D_DRIVER_TYPE_HARDWARE : D3D_DRIVER_TYPE_WARP;
    HRESULT hr = D3D11CreateDevice(nullptr, driver, nullptr, flags, nullptr, 0, D3D11_SDK_VERSION, &device.d3d,
                                   nullptr, &device.immediate);
    if (FAILED(hr)) {
        driver = D3D_DRIVER_TYPE_WARP;
        hr = D3D11CreateDevice(nullptr, driver, nullptr, flags, nullptr, 0, D3D11_SDK_VERSION, &device.d3d, nullptr,
                               &device.immediate);
    }
    if (FAILED(hr)) return false;
    device.warp = driver == D3D_DRIVER_TYPE_WARP;
    IDXGIDevice* dxgi_device = nullptr;
    ID2D1Device* d2d_device = nullptr;
    IDXGIAdapter* adapter = nullptr;
    bool ok = SUCCEEDED(device.d3d->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi_device)));
    device.dpi = float(GetDpiForSystem());
    ok = ok && SUCCEEDED(factories.d2d->CreateDevice(dxgi_device, &d2d_device));
    ok = ok && SUCCEEDED(d2d_device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &device.dc));
    ok = ok && SUCCEEDED(dxgi_device->GetAdapter(&adapter));
    ok = ok && SUCCEEDED(adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&device.dxgi)));
    release(dxgi_device);
    release(d2d_device);
    release(adapter);
    if (!ok) {
        release_device();
        return false;
    }
    ++device.generation;
    return true;
}

bool has_device() { return device.dc != nullptr; }
bool device_is_warp() { return device.warp; }

Target* window_target(HWND window, const Cell& face) {
    if (auto it = targets.find(window); it != targets.end()) return it->second;
    auto* t = new Target;
    create_swap_chain(window, t, face);
    targets[window] = t;
    return t;
}

void resize_window(HWND window, int32_t width, int32_t height) {
    auto it = targets.find(window);
    if (it == targets.end()) return;
    Target* t = it->second;
    release(t->bitmap);
    release(t->staging);
    if (!t->swap_chain) return;
    // The back buffer cannot be resized while the device context targets it.
    device.dc->SetTarget(nullptr);
    if (FAILED(t->swap_chain->ResizeBuffers(0, UINT(width), UINT(height), DXGI_FORMAT_B8G8R8A8_UNORM, 0))) {
        sysrt::print_line({TypedPrintItem::text("resizing failed")});
        return;
    }
    bind_back_buffer(t);
}

void release_window(HWND window) {
    auto it = targets.find(window);
    if (it == targets.end()) return;
    release_target(it->second);
    targets.erase(it);
}

void present(HWND window, Target* t) {
    HRESULT hr;
    if (t->occluded) {
        hr = t->swap_chain->Present(0, DXGI_PRESENT_TEST);
        if (hr == S_OK) hr = t->swap_chain->Present(0, 0);
    } else {
        hr = t->swap_chain->Present(0, 0);
    }
    if (device_removed_injected) {
        device_removed_injected = false;
        hr = DXGI_ERROR_DEVICE_REMOVED;
    }
    if (hr == S_OK) {
        t->occluded = false;
    } else if (hr == DXGI_STATUS_OCCLUDED) {
        t->occluded = true;
    } else if (hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) {
        device_lost(window);
    } else {
        sysrt::print_line({TypedPrintItem::text("draw-end error: "), TypedPrintItem::integer(int32_t(hr))});
    }
}

HDC update_layered(HWND window) {
    auto it = targets.find(window);
    if (!device.d3d || it == targets.end() || !it->second->swap_chain) return nullptr;
    Target* t = it->second;
    RECT r{};
    GetClientRect(window, &r);
    int32_t width = r.right - r.left, height = r.bottom - r.top;
    if (width < 1 || height < 1) return nullptr;
    if (!t->staging || width != t->width || height != t->height) {
        release_layered(t);
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = UINT(width);
        desc.Height = UINT(height);
        desc.MipLevels = 1;
        desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.Usage = D3D11_USAGE_STAGING;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        t->memory_dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (FAILED(device.d3d->CreateTexture2D(&desc, nullptr, &t->staging)) || !t->memory_dc ||
            !(t->dib = CreateDIBSection(t->memory_dc, &info, DIB_RGB_COLORS, &t->dib_bits, nullptr, 0))) {
            release_layered(t);
            return nullptr;
        }
        SelectObject(t->memory_dc, t->dib);
        t->width = width;
        t->height = height;
    }
    ID3D11Texture2D* back = nullptr;
    if (FAILED(t->swap_chain->GetBuffer(0, __uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&back))))
        return nullptr;
    device.immediate->CopyResource(t->staging, back);
    back->Release();
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(device.immediate->Map(t->staging, 0, D3D11_MAP_READ, 0, &mapped))) return nullptr;
    for (int32_t y = 0; y < height; ++y)
        memcpy(static_cast<uint8_t*>(t->dib_bits) + size_t(y) * size_t(width) * 4,
               static_cast<const uint8_t*>(mapped.pData) + size_t(y) * mapped.RowPitch, size_t(width) * 4);
    device.immediate->Unmap(t->staging, 0);
    return t->memory_dc;
}

ID2D1Factory1* factory() { return factories.d2d; }
IDWriteFactory* write_factory() { return factories.write; }
ID2D1DeviceContext* device_context() { return device.dc; }
float drawing_dpi() { return device.dpi; }
const wchar_t* user_locale() { return factories.locale; }

void inject_device_removed() { device_removed_injected = true; }
int32_t device_generation() { return device.generation; }

size_t text_brush_count(HWND window) {
    auto it = targets.find(window);
    return it == targets.end() ? 0 : it->second->brushes.size();
}

}  // namespace kel::view::d2d
