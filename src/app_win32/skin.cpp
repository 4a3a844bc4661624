#include "app_win32/skin.h"

#include <objbase.h>
#include <wincodec.h>

#include <vector>

#include "app_win32/skin/skin_generated.h"

namespace skiv::win32 {

namespace {

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() {
        if (p)
            p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

// Decodes PNG resource id into a top-down 32-bit DIB section, with
// premultiplied or straight alpha.
Picture LoadPng(int id, bool premultiplied) {
    Picture out;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RCDATA */);
    if (!res)
        return out;
    HGLOBAL loaded = LoadResource(module, res);
    auto* data = static_cast<BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, res);
    if (!data || !size)
        return out;

    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> converted;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(data, size)) ||
        FAILED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnLoad,
                                                &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(WICConvertBitmapSource(
            premultiplied ? GUID_WICPixelFormat32bppPBGRA : GUID_WICPixelFormat32bppBGRA, frame.p,
            &converted)))
        return out;
    UINT width = 0, height = 0;
    converted->GetSize(&width, &height);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return out;
    if (FAILED(converted->CopyPixels(nullptr, width * 4, width * 4 * height,
                                     static_cast<BYTE*>(bits)))) {
        DeleteObject(bitmap);
        return out;
    }
    out.bitmap = bitmap;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return out;
}

// An icon or cursor from a straight-alpha picture; the colour bitmap's
// alpha is the shape, the mask only has to exist.
HICON MakeIcon(const Picture& picture, bool icon, int hotX, int hotY) {
    if (!picture.bitmap)
        return nullptr;
    std::vector<BYTE> maskBits(static_cast<size_t>((picture.width + 15) / 16 * 2 * picture.height),
                               0);
    HBITMAP mask = CreateBitmap(picture.width, picture.height, 1, 1, maskBits.data());
    ICONINFO info{};
    info.fIcon = icon;
    info.xHotspot = static_cast<DWORD>(hotX);
    info.yHotspot = static_cast<DWORD>(hotY);
    info.hbmMask = mask;
    info.hbmColor = picture.bitmap;
    HICON result = CreateIconIndirect(&info);
    DeleteObject(mask);
    return result;
}

constexpr int kImages[] = {
    ui::kIconApp,           ui::kBmpLogo,      ui::kIconCloseHover,   ui::kIconClose,
    ui::kIconMinimizeHover, ui::kIconMinimize, ui::kIconLogin,        ui::kBmpSeparator,
    ui::kIconRollBackHover, ui::kIconRollBack, ui::kIconSaveHover,    ui::kIconSave,
    ui::kIconInstallHover,  ui::kIconInstall,  ui::kBmpBackLoggedOut, ui::kBmpBackLoggedIn,
    ui::kBmpTree,
};

int ResourceOf(int id, int scale) {
    return scale == 2 ? id + kScale2Offset : id;
}

}  // namespace

Skin::Skin(int scale) : m_scale(scale == 2 ? 2 : 1) {
    for (int id : kImages)
        m_images[id] = LoadPng(ResourceOf(id, m_scale), true);
    Picture hand = LoadPng(ResourceOf(ui::kCursorHand, m_scale), false);
    const int* hot = kHandHotSpot[m_scale - 1];
    m_hand = reinterpret_cast<HCURSOR>(MakeIcon(hand, false, hot[0], hot[1]));
    if (hand.bitmap)
        DeleteObject(hand.bitmap);
    Picture icon = LoadPng(ResourceOf(ui::kIconApp, m_scale), false);
    m_icon = MakeIcon(icon, true, 0, 0);
    if (icon.bitmap)
        DeleteObject(icon.bitmap);
}

Skin::~Skin() {
    for (auto& [id, picture] : m_images)
        if (picture.bitmap)
            DeleteObject(picture.bitmap);
    if (m_hand)
        DestroyCursor(m_hand);
    if (m_icon)
        DestroyIcon(m_icon);
}

const Picture& Skin::Image(int id) const {
    static const Picture kNone;
    auto it = m_images.find(id);
    return it == m_images.end() ? kNone : it->second;
}

HIMAGELIST Skin::CreateTreeImages() const {
    const int w = 17 * m_scale, h = 16 * m_scale;
    HIMAGELIST list = ImageList_Create(w, h, ILC_COLOR32, 15, 0);
    Picture strip = LoadPng(ResourceOf(ui::kBmpTree, m_scale), false);
    if (list && strip.bitmap)
        ImageList_Add(list, strip.bitmap, nullptr);
    if (strip.bitmap)
        DeleteObject(strip.bitmap);
    return list;
}

void Skin::Draw(HDC dc, const Picture& picture, int x, int y, int destWidth, int destHeight) {
    if (!picture.bitmap)
        return;
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, picture.bitmap);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    SetStretchBltMode(dc, HALFTONE);
    AlphaBlend(dc, x, y, destWidth, destHeight, source, 0, 0, picture.width, picture.height, blend);
    SelectObject(source, old);
    DeleteDC(source);
}

COLORREF Colour(ui::Rgb c) {
    return RGB(c.red, c.green, c.blue);
}

void FillRectColour(HDC dc, const RECT& r, COLORREF colour) {
    SetDCBrushColor(dc, colour);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

}  // namespace skiv::win32
