// Places a hand-made CF_DIBV5 block on the Windows clipboard, one the
// reader must refuse, then keeps running until its standard input closes
// (the clipboard owner stays alive while the reader looks).
//   place_dib rows      a 1-pixel-wide DIB declaring 40000 rows, holding 1
//   place_dib header    a DIB whose header size claims more than the block
//   place_dib masks     a 32-bit DIB with masks other than BGRA
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    BITMAPV5HEADER head{};
    head.bV5Size = sizeof head;
    head.bV5Width = 1;
    head.bV5Height = 1;
    head.bV5Planes = 1;
    head.bV5BitCount = 32;
    head.bV5Compression = BI_BITFIELDS;
    head.bV5RedMask = 0x00FF0000;
    head.bV5GreenMask = 0x0000FF00;
    head.bV5BlueMask = 0x000000FF;
    head.bV5AlphaMask = 0xFF000000;
    head.bV5CSType = 0x73524742;  // "sRGB"
    size_t size = sizeof head + 4;
    if (!std::strcmp(argv[1], "rows")) head.bV5Height = 40000;
    else if (!std::strcmp(argv[1], "header")) head.bV5Size = 1 << 20;
    else if (!std::strcmp(argv[1], "masks")) head.bV5RedMask = 0x000000FF, head.bV5BlueMask = 0x00FF0000;
    else return 2;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return 1;
    auto* p = static_cast<unsigned char*>(GlobalLock(block));
    std::memset(p, 0, size);
    std::memcpy(p, &head, sizeof head);
    std::memset(p + sizeof head, 0xFF, 4);
    GlobalUnlock(block);
    if (!OpenClipboard(nullptr)) return 1;
    EmptyClipboard();
    bool placed = SetClipboardData(CF_DIBV5, block) != nullptr;
    CloseClipboard();
    if (!placed) return 1;
    std::puts("placed");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
