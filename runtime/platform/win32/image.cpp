// The Windows imaging back end: the Windows Imaging Component (WIC).
//
// A Bitmap is an image node's platform record: a source (a converter, a
// scaler or a bitmap; lazy until pixels are needed), the cached bitmap that
// pixel locks work on, the GUI back end's cached object, and the flags that
// say which of them holds the current pixels:
//   0x01 the cached bitmap is valid
//   0x02 pixels were written since the source was made (the source is stale)
//   0x08 the source is a realised premultiplied bitmap made for drawing
//   0x10 the source delivers premultiplied BGRA rather than straight BGRA
//   0x20 the cached bitmap was lent to drawing or GDI+: the next fetch makes a new one
//   0x40 the GUI cache was fetched since the last collection
// Each field owns one reference; putting a new object in releases the old.
//
// Every HRESULT is checked: a failed call releases what was made and
// answers bad_media (no_memory where memory could not be had). Copies,
// clips, scales and flips are realised when made, so a later write to the
// original never shows in them.
#include "runtime/platform/image.hpp"

#include <windows.h>
#include <dxgiformat.h>
#include <ocidl.h>
#include <propidl.h>
#include <dcommon.h>

// The imaging header read a second time, its GUIDs as constants as well, so
// that the values below are checked against it at compile time.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    EXTERN_C const GUID name;                                        \
    namespace header_guid {                                          \
    constexpr GUID name{l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
    }
#include <wincodec.h>
#undef DEFINE_GUID

#include <cstring>
#include <new>

#include "runtime/platform/win32/shared.hpp"

namespace kel::image_wic {
namespace {

// "6FDDC324-4E03-4BFE-B185-3D77768DC90F" and the other texts, as values.
constexpr GUID format_bgra{0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x0F}};
constexpr GUID format_pbgra{0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, 0x10}};
constexpr GUID container_bmp{0x0AF1D87E, 0xFCFE, 0x4188, {0xBD, 0xEB, 0xA7, 0x90, 0x64, 0x71, 0xCB, 0xE3}};
constexpr GUID container_png{0x1B7CFAF4, 0x713F, 0x473C, {0xBB, 0xCD, 0x61, 0x37, 0x42, 0x5F, 0xAE, 0xAF}};
constexpr GUID container_jpeg{0x19E4A5AA, 0x5662, 0x4FC5, {0xA0, 0xC0, 0x17, 0x58, 0x02, 0x8E, 0x10, 0x57}};
constexpr GUID container_tiff{0x163BCC30, 0xE2E9, 0x4F0B, {0x96, 0x1D, 0xA3, 0xE9, 0xFD, 0xB7, 0x88, 0xA3}};
constexpr GUID container_gif{0x1F8A5601, 0x7D4D, 0x4CBD, {0x9C, 0x82, 0x1B, 0xC8, 0xD4, 0xEE, 0xB9, 0xA5}};
constexpr GUID factory_class{0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
constexpr GUID factory_interface{0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};

constexpr bool same(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
static_assert(same(format_bgra, header_guid::GUID_WICPixelFormat32bppBGRA));
static_assert(same(format_pbgra, header_guid::GUID_WICPixelFormat32bppPBGRA));
static_assert(same(container_bmp, header_guid::GUID_ContainerFormatBmp));
static_assert(same(container_png, header_guid::GUID_ContainerFormatPng));
static_assert(same(container_jpeg, header_guid::GUID_ContainerFormatJpeg));
static_assert(same(container_tiff, header_guid::GUID_ContainerFormatTiff));
static_assert(same(container_gif, header_guid::GUID_ContainerFormatGif));
static_assert(same(factory_class, header_guid::CLSID_WICImagingFactory));
static_assert(same(factory_interface, header_guid::IID_IWICImagingFactory));
static_assert(WICBitmapCacheOnDemand == 1 && WICBitmapCacheOnLoad == 2 && WICBitmapNoCache == 0);
static_assert(WICBitmapLockRead == 1 && WICBitmapLockWrite == 2);
static_assert(WICBitmapTransformFlipVertical == 0x10);
static_assert(WICBitmapEncoderNoCache == 2);

// In encoder index order: 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF.
constexpr const GUID* containers[format_count] = {&container_bmp, &container_png, &container_gif, &container_jpeg,
                                                  &container_tiff};

constexpr uint32_t cached_valid = 0x01, written = 0x02, drawn = 0x08, premultiplied = 0x10, lent = 0x20,
                   gui_used = 0x40;

IWICImagingFactory* factory = nullptr;

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// Holds one reference for a stretch of code; releases it unless handed on.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { release(p); }
    T** out() { return &p; }
    T* take() {
        T* q = p;
        p = nullptr;
        return q;
    }
};

}  // namespace

struct Bitmap {
    uint32_t flags = 0;
    IWICBitmapSource* source = nullptr;
    IWICBitmap* cached = nullptr;
    IUnknown* gui_cache = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

namespace {

void set_source(Bitmap* b, IWICBitmapSource* s) {
    release(b->source);
    b->source = s;
}
void set_cached(Bitmap* b, IWICBitmap* c) {
    release(b->cached);
    b->cached = c;
}

Status made(Bitmap** out, IWICBitmapSource* source, IWICBitmap* cached, uint32_t flags, uint32_t w, uint32_t h) {
    auto* b = new (std::nothrow) Bitmap{flags, source, cached, nullptr, w, h};
    if (!b) {
        if (source) source->Release();
        if (cached) cached->Release();
        return Status::no_memory;
    }
    *out = b;
    return Status::ok;
}

// A converter over the source delivering straight or premultiplied BGRA.
HRESULT convert_format(IWICBitmapSource* source, bool premultiplied_wish, IWICBitmapSource** out) {
    Ref<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(converter.out());
    if (FAILED(hr)) return hr;
    hr = converter.p->Initialize(source, premultiplied_wish ? format_pbgra : format_bgra, WICBitmapDitherTypeNone,
                                 nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return hr;
    *out = converter.take();
    return S_OK;
}

// The source in the wished form, remade over the cached bitmap (or the old
// source) when there is none, when pixels were written since, or when its
// form differs. Null when it cannot be made.
IWICBitmapSource* ensure_format(Bitmap* b, bool premultiplied_wish) {
    bool is_pre = b->flags & premultiplied;
    if (b->source && !(b->flags & written) && is_pre == premultiplied_wish) return b->source;
    IWICBitmapSource* input = b->cached ? static_cast<IWICBitmapSource*>(b->cached) : b->source;
    if (!input) return nullptr;
    IWICBitmapSource* converter = nullptr;
    if (FAILED(convert_format(input, premultiplied_wish, &converter))) return nullptr;
    set_source(b, converter);
    release(b->gui_cache);
    b->flags &= ~(written | drawn);
    b->flags = premultiplied_wish ? b->flags | premultiplied : b->flags & ~premultiplied;
    return b->source;
}

// The bitmap pixel locks work on, realised from the source when needed.
IWICBitmap* get_bitmap(Bitmap* b) {
    if (b->flags & lent) b->flags &= ~(lent | cached_valid);
    if ((b->flags & cached_valid) && b->cached) return b->cached;
    if (!b->source) return nullptr;
    Ref<IWICBitmapSource> converter;
    if (FAILED(convert_format(b->source, false, converter.out()))) return nullptr;
    IWICBitmap* bitmap = nullptr;
    if (FAILED(factory->CreateBitmapFromSource(converter.p, WICBitmapCacheOnDemand, &bitmap))) return nullptr;
    set_cached(b, bitmap);
    b->flags |= cached_valid;
    return bitmap;
}

// A new bitmap holding the source's pixels now, cached, with no source.
Status realise(IWICBitmapSource* source, uint32_t w, uint32_t h, Bitmap** out) {
    IWICBitmap* bitmap = nullptr;
    HRESULT hr = factory->CreateBitmapFromSource(source, WICBitmapCacheOnLoad, &bitmap);
    if (hr == E_OUTOFMEMORY) return Status::no_memory;
    if (FAILED(hr)) return Status::bad_media;
    return made(out, nullptr, bitmap, cached_valid | written, w, h);
}

// The straight source of an image, for reading all of it.
IWICBitmapSource* straight(Bitmap* b) { return factory ? ensure_format(b, false) : nullptr; }

bool too_large(UINT w, UINT h) {
    return w == 0 || h == 0 || w > max_side || h > max_side || uint64_t(w) * h > max_pixels;
}

// The first frame, checked for its size before any of its pixels are
// asked for, realised into a bitmap of its own. Releases the decoder.
Status decode_frame(IWICBitmapDecoder* decoder_in, Decoded* out) {
    Ref<IWICBitmapDecoder> decoder;
    decoder.p = decoder_in;
    UINT frames = 0;
    if (FAILED(decoder.p->GetFrameCount(&frames)) || frames < 1) return Status::bad_media;
    Ref<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder.p->GetFrame(0, frame.out()))) return Status::bad_media;
    UINT w = 0, h = 0;
    if (FAILED(frame.p->GetSize(&w, &h)) || too_large(w, h)) return Status::bad_media;
    Ref<IWICBitmapSource> converter;
    if (FAILED(convert_format(frame.p, false, converter.out()))) return Status::bad_media;
    Bitmap* b = nullptr;
    Status s = realise(converter.p, w, h, &b);
    if (s != Status::ok) return s;
    b->flags = cached_valid;
    *out = Decoded{b, w, h};
    return Status::ok;
}

}  // namespace

bool init() {
    if (factory) return true;
    // COM on this thread, the interpreter's: already started by the platform
    // start in the product (S_FALSE then), not in a test program.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    void* f = nullptr;
    if (FAILED(CoCreateInstance(factory_class, nullptr, CLSCTX_INPROC_SERVER, factory_interface, &f))) return false;
    factory = static_cast<IWICImagingFactory*>(f);
    return true;
}

Status create(uint32_t width, uint32_t height, Bitmap** out) {
    if (!factory) return Status::bad_media;
    IWICBitmap* bitmap = nullptr;
    if (FAILED(factory->CreateBitmap(width, height, format_bgra, WICBitmapCacheOnLoad, &bitmap)))
        return Status::no_memory;
    return made(out, nullptr, bitmap, cached_valid | written, width, height);
}

Status from_memory(uint32_t width, uint32_t height, uint32_t stride, const uint8_t* pixels, Bitmap** out) {
    if (!factory) return Status::bad_media;
    if (!stride) stride = width * 4;
    uint64_t size = uint64_t(height) * stride;
    if (size > UINT32_MAX) return Status::no_memory;
    IWICBitmap* bitmap = nullptr;
    HRESULT hr = factory->CreateBitmapFromMemory(width, height, format_bgra, stride, UINT(size),
                                                 const_cast<BYTE*>(pixels), &bitmap);
    if (hr == E_OUTOFMEMORY) return Status::no_memory;
    if (FAILED(hr)) return Status::bad_media;
    return made(out, bitmap, nullptr, 0, width, height);
}

Status lock(Bitmap* b, bool write, Lock* out) {
    if (!factory || !b) return Status::bad_media;
    IWICBitmap* bitmap = get_bitmap(b);
    if (!bitmap) return Status::bad_media;
    WICRect whole{0, 0, INT(b->width), INT(b->height)};
    Ref<IWICBitmapLock> l;
    if (FAILED(bitmap->Lock(&whole, write ? WICBitmapLockWrite : WICBitmapLockRead, l.out()))) return Status::bad_media;
    UINT stride = 0, size = 0;
    BYTE* data = nullptr;
    if (FAILED(l.p->GetStride(&stride)) || FAILED(l.p->GetDataPointer(&size, &data)) || !data)
        return Status::bad_media;
    if (write) b->flags |= written;
    *out = Lock{data, stride, l.take()};
    return Status::ok;
}

void unlock(Lock* l) {
    if (l->token) static_cast<IWICBitmapLock*>(l->token)->Release();
    *l = Lock{};
}

Status copy(Bitmap* b, Bitmap** out) {
    IWICBitmapSource* source = straight(b);
    if (!source) return Status::bad_media;
    return realise(source, b->width, b->height, out);
}

Status copy_part(Bitmap* b, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Bitmap** out) {
    IWICBitmapSource* source = straight(b);
    if (!source) return Status::bad_media;
    Ref<IWICBitmapClipper> clipper;
    WICRect rect{INT(x), INT(y), INT(width), INT(height)};
    if (FAILED(factory->CreateBitmapClipper(clipper.out())) || FAILED(clipper.p->Initialize(source, &rect)))
        return Status::bad_media;
    return realise(clipper.p, width, height, out);
}

Status scale(Bitmap* b, uint32_t width, uint32_t height, Bitmap** out) {
    IWICBitmapSource* source = straight(b);
    if (!source) return Status::bad_media;
    Ref<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler.p->Initialize(source, width, height, WICBitmapInterpolationModeNearestNeighbor)))
        return Status::bad_media;
    return realise(scaler.p, width, height, out);
}

Status flip_vertical(Bitmap* b, Bitmap** out) {
    IWICBitmapSource* source = straight(b);
    if (!source) return Status::bad_media;
    Ref<IWICBitmapFlipRotator> flipper;
    if (FAILED(factory->CreateBitmapFlipRotator(flipper.out())) ||
        FAILED(flipper.p->Initialize(source, WICBitmapTransformFlipVertical)))
        return Status::bad_media;
    return realise(flipper.p, b->width, b->height, out);
}

Status decode_memory(const uint8_t* bytes, size_t n, Decoded* out) {
    *out = Decoded{};
    if (!factory) return Status::bad_media;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
    if (!memory) return Status::no_memory;
    void* p = GlobalLock(memory);
    if (!p) {
        GlobalFree(memory);
        return Status::no_memory;
    }
    std::memcpy(p, bytes, n);
    GlobalUnlock(memory);
    Ref<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, stream.out()))) {
        GlobalFree(memory);
        return Status::bad_media;
    }
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr)) return Status::bad_media;
    return decode_frame(decoder, out);
}

Status load_file(const std::string& path, Decoded* out) {
    *out = Decoded{};
    if (!factory) return Status::bad_media;
    std::wstring name = win32::wide(path);
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(factory->CreateDecoderFromFilename(name.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)))
        return Status::bad_media;
    return decode_frame(decoder, out);
}

// The storage of the encoded bytes is a stream on memory: the bytes read
// back are those a temporary compound file would hold.
Status encode(Bitmap* b, int32_t format, std::vector<uint8_t>& out) {
    out.clear();
    if (format < 0 || format >= format_count) return Status::bad_media;
    IWICBitmapSource* source = straight(b);
    if (!source) return Status::bad_media;
    Ref<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()))) return Status::no_memory;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> options;
    WICPixelFormatGUID pixel_format = format_bgra;
    if (FAILED(factory->CreateEncoder(*containers[format], nullptr, encoder.out())) ||
        FAILED(encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache)) ||
        FAILED(encoder.p->CreateNewFrame(frame.out(), options.out())) || FAILED(frame.p->Initialize(nullptr)) ||
        FAILED(frame.p->SetSize(b->width, b->height)) || FAILED(frame.p->SetPixelFormat(&pixel_format)) ||
        FAILED(frame.p->WriteSource(source, nullptr)) || FAILED(frame.p->Commit()) || FAILED(encoder.p->Commit()))
        return Status::bad_media;
    STATSTG stat{};
    if (FAILED(stream.p->Stat(&stat, STATFLAG_NONAME))) return Status::bad_media;
    if (stat.cbSize.QuadPart > UINT32_MAX) return Status::no_memory;
    out.resize(size_t(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    ULONG read = 0;
    if (FAILED(stream.p->Seek(zero, STREAM_SEEK_SET, nullptr)) ||
        FAILED(stream.p->Read(out.data(), ULONG(out.size()), &read)) || read != out.size()) {
        out.clear();
        return Status::bad_media;
    }
    return Status::ok;
}

void release_all(uintptr_t bitmap) {
    auto* b = reinterpret_cast<Bitmap*>(bitmap);
    if (!b) return;
    release(b->source);
    release(b->cached);
    release(b->gui_cache);
    delete b;
}

void age_gui_cache(Bitmap* b) {
    if (!b) return;
    if (b->flags & gui_used) b->flags &= ~gui_used;
    else release(b->gui_cache);
}

// ---- bridges

extern "C" {
int WINAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride, INT format, BYTE* scan0, void** bitmap);
int WINAPI GdipDisposeImage(void* image);
}

void* to_hbitmap(Bitmap* b) {
    Lock l;
    if (lock(b, false, &l) != Status::ok) return nullptr;
    HBITMAP h = CreateBitmap(INT(b->width), INT(b->height), 1, 32, l.pixels);
    unlock(&l);
    return h;
}

Status from_hbitmap(void* hbitmap, int32_t alpha_option, Decoded* out) {
    *out = Decoded{};
    if (!factory) return Status::bad_media;
    Ref<IWICBitmap> bitmap;
    if (FAILED(factory->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(hbitmap), nullptr,
                                                WICBitmapAlphaChannelOption(alpha_option), bitmap.out())))
        return Status::bad_media;
    UINT w = 0, h = 0;
    if (FAILED(bitmap.p->GetSize(&w, &h)) || too_large(w, h)) return Status::bad_media;
    IWICBitmapSource* converter = nullptr;
    if (FAILED(convert_format(bitmap.p, false, &converter))) return Status::bad_media;
    Bitmap* b = nullptr;
    Status s = made(&b, converter, nullptr, 0, w, h);
    if (s != Status::ok) return s;
    *out = Decoded{b, w, h};
    return Status::ok;
}

void* to_gdiplus(Bitmap* b, Lock* lock_out) {
    *lock_out = Lock{};
    if (!straight(b)) return nullptr;
    b->flags |= lent;
    if (lock(b, false, lock_out) != Status::ok) return nullptr;
    void* gdiplus = nullptr;
    constexpr INT argb32 = 0x26200A;  // PixelFormat32bppARGB
    if (GdipCreateBitmapFromScan0(INT(b->width), INT(b->height), INT(b->width * 4), argb32, lock_out->pixels,
                                  &gdiplus) != 0) {
        unlock(lock_out);
        return nullptr;
    }
    return gdiplus;
}

void release_gdiplus(void* gdiplus_bitmap, Lock* l) {
    if (gdiplus_bitmap) GdipDisposeImage(gdiplus_bitmap);
    unlock(l);
}

void* premultiply_for_draw(Bitmap* b) {
    if (!factory) return nullptr;
    IWICBitmapSource* source = ensure_format(b, true);
    if (!source) return nullptr;
    if (b->flags & drawn) return source;
    IWICBitmap* bitmap = nullptr;
    if (FAILED(factory->CreateBitmapFromSource(source, WICBitmapCacheOnLoad, &bitmap))) return nullptr;
    set_source(b, bitmap);
    set_cached(b, nullptr);
    b->flags = drawn | premultiplied;
    return b->source;
}

void release_for_draw(Bitmap* b) {
    b->flags |= lent;
    release(b->gui_cache);
}

void* get_gui_cache(Bitmap* b) {
    b->flags |= gui_used;
    if (b->gui_cache) b->gui_cache->AddRef();
    return b->gui_cache;
}

void set_gui_cache(Bitmap* b, void* object) {
    auto* o = static_cast<IUnknown*>(object);
    if (o) o->AddRef();
    release(b->gui_cache);
    b->gui_cache = o;
}

}  // namespace kel::image_wic
