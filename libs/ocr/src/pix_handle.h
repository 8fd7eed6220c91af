// pix_handle.h: owning handle for Leptonica images, so every early return of
// the engine frees what it decoded or derived. Not shared between threads.
#ifndef OCR_PIX_HANDLE_H_
#define OCR_PIX_HANDLE_H_

#include <leptonica/allheaders.h>

#include <memory>

namespace libocr {

struct PixDeleter {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

}  // namespace libocr

#endif  // OCR_PIX_HANDLE_H_
