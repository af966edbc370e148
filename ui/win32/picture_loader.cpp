#include "ui/win32/picture_loader.h"

#include <ole2.h>
#include <olectl.h>

#include <cstdio>

namespace ui {

namespace {

struct FileCloser {
  FILE* file;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

struct GlobalBlock {
  HGLOBAL handle;
  ~GlobalBlock() {
    if (handle) GlobalFree(handle);
  }
};

template <typename Interface>
struct ComReference {
  Interface* pointer = nullptr;
  ~ComReference() {
    if (pointer) pointer->Release();
  }
};

}  // namespace

HBITMAP LoadPicture(const std::string& path) {
  GlobalBlock block{nullptr};
  long size = 0;
  {
    FileCloser file{std::fopen(path.c_str(), "rb")};
    if (!file.file) return nullptr;
    if (std::fseek(file.file, 0, SEEK_END) != 0) return nullptr;
    size = std::ftell(file.file);
    if (size <= 0 || std::fseek(file.file, 0, SEEK_SET) != 0) return nullptr;
    block.handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(size));
    if (!block.handle) return nullptr;
    // GMEM_FIXED: the handle is the block's address.
    if (std::fread(block.handle, 1, static_cast<size_t>(size), file.file) !=
        static_cast<size_t>(size)) {
      return nullptr;
    }
  }
  // The stream must not free the block: the block's own owner does, after
  // the stream is gone.
  ComReference<IStream> stream;
  if (CreateStreamOnHGlobal(block.handle, FALSE, &stream.pointer) != S_OK || !stream.pointer) {
    return nullptr;
  }
  ComReference<IPicture> picture;
  if (OleLoadPicture(stream.pointer, 0, FALSE, IID_IPicture,
                     reinterpret_cast<void**>(&picture.pointer)) != S_OK ||
      !picture.pointer) {
    return nullptr;
  }
  OLE_HANDLE handle = 0;
  if (picture.pointer->get_Handle(&handle) != S_OK || !handle) return nullptr;
  // The picture object owns its bitmap; the copy outlives it.
  return static_cast<HBITMAP>(CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)),
                                        IMAGE_BITMAP, 0, 0, LR_COPYRETURNORG));
}

}  // namespace ui
