// Still image saving: the current image is copied under the image lock and
// encoded from the copy, so that frame conversion and delivery go on while a
// large file is written.
#include "image/dib_image.h"
#include "image/process_frame.h"
#include "output/save_image.h"
#include "platform/text.h"
#include "session/vimbra.h"

namespace vimbra {

int32_t CVimbra::SaveImage(const char* file_name, int32_t format) {
    if (!RequireDevice()) return 0;
    if (image_ready_.load() == 0) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    return SaveCurrentImage(file_name, format);
}

int32_t CVimbra::SaveImageW(const char16_t* file_name, int32_t format) {
    if (!RequireDevice()) return 0;
    char narrow[kPathBufferBytes];
    if (!platform::WideToNarrow(file_name, narrow, sizeof narrow)) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    return SaveCurrentImage(narrow, format);
}

int32_t CVimbra::SaveCurrentImage(const char* file_name, int32_t format) {
    // The copy's memory is made before the lock is taken, from the size the
    // image has now; under the lock only the pixels are copied (or the copy
    // is made again if the image changed shape in between).
    CDibImage copy;
    {
        std::lock_guard<platform::RecursiveLock> lock(image_lock_);
        const CDibImage* current = OutputOfMode(FrameMode());
        if (current != nullptr && !current->empty()) copy.CreateLike(current);
    }
    {
        std::lock_guard<platform::RecursiveLock> lock(image_lock_);
        const CDibImage* current = OutputOfMode(FrameMode());
        if (current == nullptr || current->empty()) {
            RecordError(VIMBRA_ERR_STATE);
            return 0;
        }
        if (!CopyImage(&copy, *current)) {
            RecordError(VIMBRA_ERR_MEMORY);
            return 0;
        }
    }
    return vimbra::SaveImage(file_name, &copy, format);
}

}  // namespace vimbra
