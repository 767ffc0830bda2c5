// HTTP on Windows: the WinHTTP request object ("WinHttp.WinHttpRequest.5.1")
// through its dual interface, synchronous, one object per request. Every
// failing step from its creation to reading the body answers nothing; a
// failed status or header read only leaves those out.
#include "runtime/platform/http.hpp"

#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "runtime/platform/win32/shared.hpp"
#include "runtime/unicode.hpp"

namespace kel::os {

const bool http_available = true;

// IWinHttpRequest, in the order of its vtable after IDispatch. Outside the
// unnamed namespace: there the optimiser, seeing no class that implements
// it, would take its calls for ones that cannot happen.
struct WinHttpRequest : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG setting, VARIANT server, VARIANT bypass) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR user, BSTR password, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR header, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR header, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
};

namespace {

// The id Wine's object answers to first, then the one of the class's
// documentation.
constexpr GUID request_ids[] = {
    {0x016FE2EC, 0xB2C8, 0x45F8, {0xB2, 0x3B, 0x39, 0xE5, 0x3A, 0x75, 0x39, 0x6B}},
    {0x06F29373, 0x5C5A, 0x4B54, {0xB0, 0x25, 0x6E, 0xF1, 0xBF, 0x8A, 0xBF, 0x0E}},
};

// A BSTR that frees itself.
struct Bstr {
    BSTR s = nullptr;
    explicit Bstr(const std::wstring& w) : s(SysAllocStringLen(w.data(), UINT(w.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

struct Released {
    WinHttpRequest* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

std::string utf8_of(BSTR s) {
    if (!s) return {};
    return unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(s), SysStringLen(s)));
}

std::wstring with_crlf(const std::string& utf8) {
    std::wstring w = win32::wide(utf8), out;
    out.reserve(w.size());
    for (wchar_t c : w) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}

// The request body as the object takes it: bytes as a one-dimensional byte
// array, text as a BSTR, nothing as the "missing" argument. False when the
// array could not be made.
bool make_body(const HttpRequest& request, Variant& body) {
    switch (request.body_kind) {
    case HttpRequest::Body::none:
        body.v.vt = VT_ERROR;
        body.v.scode = DISP_E_PARAMNOTFOUND;
        return true;
    case HttpRequest::Body::text:
    {
        std::wstring w = with_crlf(request.body);
        body.v.vt = VT_BSTR;
        body.v.bstrVal = SysAllocStringLen(w.data(), UINT(w.size()));
        return body.v.bstrVal != nullptr;
    }
    case HttpRequest::Body::bytes: {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, ULONG(request.body.size()));
        if (!array) return false;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            return false;
        }
        if (!request.body.empty()) std::memcpy(data, request.body.data(), request.body.size());
        SafeArrayUnaccessData(array);
        body.v.vt = VT_ARRAY | VT_UI1;
        body.v.parray = array;
        return true;
    }
    }
    return false;
}

bool read_body(WinHttpRequest* object, std::string& out) {
    Variant body;
    if (FAILED(object->get_ResponseBody(&body.v))) return false;
    if (body.v.vt != (VT_ARRAY | VT_UI1) || !body.v.parray || SafeArrayGetDim(body.v.parray) != 1) return false;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(body.v.parray, 1, &low);
    SafeArrayGetUBound(body.v.parray, 1, &high);
    void* data = nullptr;
    if (high >= low) {
        if (FAILED(SafeArrayAccessData(body.v.parray, &data))) return false;
        out.assign(static_cast<const char*>(data), size_t(high - low + 1));
        SafeArrayUnaccessData(body.v.parray);
    }
    return true;
}

}  // namespace

std::optional<HttpResponse> http_send(const HttpRequest& request, bool with_head) {
    CLSID cls;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &cls))) return std::nullopt;
    Released object;
    for (const GUID& id : request_ids) {
        void* p = nullptr;
        if (SUCCEEDED(CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, id, &p)) && p) {
            object.p = static_cast<WinHttpRequest*>(p);
            break;
        }
    }
    if (!object.p) return std::nullopt;

    Bstr method(win32::wide(request.method)), url(win32::wide(request.url));
    Variant async;
    async.v.vt = VT_BOOL;
    async.v.boolVal = VARIANT_FALSE;
    if (FAILED(object.p->Open(method.s, url.s, async.v))) return std::nullopt;
    for (const auto& [name, value] : request.headers) {
        Bstr n(win32::wide(name)), v(win32::wide(value));
        if (FAILED(object.p->SetRequestHeader(n.s, v.s))) return std::nullopt;
    }
    Variant body;
    if (!make_body(request, body)) return std::nullopt;
    if (FAILED(object.p->Send(body.v))) return std::nullopt;

    HttpResponse response;
    if (with_head) {
        LONG status = 0;
        if (SUCCEEDED(object.p->get_Status(&status))) response.status = int(status);
        BSTR headers = nullptr;
        if (SUCCEEDED(object.p->GetAllResponseHeaders(&headers))) response.headers = utf8_of(headers);
        SysFreeString(headers);
    }
    if (!read_body(object.p, response.body)) return std::nullopt;
    return response;
}

}  // namespace kel::os
