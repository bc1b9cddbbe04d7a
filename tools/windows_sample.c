/* A Windows host of the DLL in plain C, as a Windows program links it: a
 * message-only window receives the library's messages through the thread's
 * message loop while live preview copies each frame into a buffer of ours;
 * then one frame is saved as BMP and PNG.
 *
 *     windows_sample.exe [frames] [folder]
 *
 * Exits 0 when every step worked; otherwise says which step failed and
 * exits with the library's error code (or 1). */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "VimbraSdk_740QX_RDL.h"

/* The timer that ends a preview in which frames stop coming. */
#define SAMPLE_TIMER 1
#define SAMPLE_TIMEOUT_MS 10000

static int Fail(int32_t camera, const char* step) {
    const int32_t code = camera != 0 ? Vimbra_GetLastError(camera) : 0;
    if (code != 0)
        fprintf(stderr, "windows_sample: %s failed (error code %d)\n", step, (int)code);
    else
        fprintf(stderr, "windows_sample: %s failed\n", step);
    return code != 0 ? (int)code : 1;
}

/* Reads the thread's messages until `wanted` frames have arrived, an error is
 * posted or no frame comes for SAMPLE_TIMEOUT_MS; the number of frames. */
static int ReceiveFrames(HWND window, int wanted) {
    int frames = 0;
    MSG msg;
    SetTimer(window, SAMPLE_TIMER, SAMPLE_TIMEOUT_MS, NULL);
    while (frames < wanted && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.wParam == SAMPLE_TIMER) {
            fprintf(stderr, "windows_sample: no frame for %d ms\n", SAMPLE_TIMEOUT_MS);
            break;
        }
        if (msg.message == VIMBRA_MSG_ERROR) {
            fprintf(stderr, "windows_sample: the library reported error code %d\n",
                    (int)msg.lParam);
            break;
        }
        if (msg.message == VIMBRA_MSG_FRAME) {
            const VimbraFrameInfo* info = (const VimbraFrameInfo*)msg.wParam;
            if (info == NULL || msg.lParam != 0) {
                fprintf(stderr, "windows_sample: frame failed with error code %d\n",
                        (int)msg.lParam);
                break;
            }
            ++frames;
            printf("frame %d: %d x %d, %d bits per pixel, %.1f frames/s\n", frames,
                   (int)info->width, (int)info->height, (int)info->bitsPerPixel,
                   info->frameRate / 10.0);
            SetTimer(window, SAMPLE_TIMER, SAMPLE_TIMEOUT_MS, NULL);
            continue;
        }
        DispatchMessageA(&msg);
    }
    KillTimer(window, SAMPLE_TIMER);
    return frames;
}

/* Saves the current image as `name` in `folder`; 0 or the failure's code. A
 * file that cannot be written leaves no code, so the message names the path. */
static int Save(int32_t camera, const char* folder, const char* name, int32_t format) {
    char path[MAX_PATH];
    if (snprintf(path, sizeof path, "%s\\%s", folder, name) >= (int)sizeof path) {
        fprintf(stderr, "windows_sample: the folder name is too long\n");
        return 1;
    }
    if (!Vimbra_SaveImage(camera, path, format)) {
        const int32_t code = Vimbra_GetLastError(camera);
        if (code != 0) {
            fprintf(stderr, "windows_sample: saving %s failed (error code %d)\n", path, (int)code);
            return (int)code;
        }
        fprintf(stderr, "windows_sample: cannot write %s\n", path);
        return 1;
    }
    printf("saved %s\n", path);
    return 0;
}

/* Previews, snapshots and saves on an open camera; 0 or the failure's code. */
static int RunSteps(int32_t camera, HWND window, int wanted, const char* folder, uint8_t* buffer,
                    size_t size) {
    int frames;
    int result;

    /* No preview window: the frames come to the message window only. */
    if (!Vimbra_SetPreviewWindow(camera, NULL, 0, 0, 0, 0))
        return Fail(camera, "Vimbra_SetPreviewWindow");
    if (!Vimbra_CallBackPreview(camera, window, buffer, (int32_t)size, 1))
        return Fail(camera, "Vimbra_CallBackPreview");
    frames = ReceiveFrames(window, wanted);
    Vimbra_StopPreview(camera);
    if (frames < wanted) return Fail(camera, "receiving frames");

    if (!Vimbra_SnapShot(camera, buffer, (int32_t)size, 1)) return Fail(camera, "Vimbra_SnapShot");
    if ((result = Save(camera, folder, "sample.bmp", 0)) != 0) return result;
    return Save(camera, folder, "sample.png", 5);
}

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? atoi(argv[1]) : 10;
    const char* folder = argc > 2 ? argv[2] : ".";
    HWND window;
    int32_t camera;
    size_t size;
    uint8_t* buffer;
    int result;

    /* Zero frames would pass the preview step without seeing one. */
    if (wanted < 1 || argc > 3) {
        fprintf(stderr, "usage: windows_sample.exe [frames (1 or more)] [folder]\n");
        return 1;
    }
    printf("library version 0x%08x\n", (unsigned)Vimbra_GetDllVersion());
    window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    if (window == NULL) {
        fprintf(stderr, "windows_sample: no message window\n");
        return 1;
    }
    camera = Vimbra_Initialize(window);
    if (camera == 0) {
        DestroyWindow(window);
        return Fail(0, "Vimbra_Initialize");
    }
    printf("camera: %d x %d\n", (int)Vimbra_Width(camera), (int)Vimbra_Height(camera));

    /* Room for the deepest pixels (64 bits) of the current image size. */
    size = (size_t)Vimbra_Width(camera) * (size_t)Vimbra_Height(camera) * 8;
    buffer = (uint8_t*)malloc(size);
    result = buffer != NULL ? RunSteps(camera, window, wanted, folder, buffer, size)
                            : Fail(camera, "allocating the frame buffer");

    Vimbra_Release(camera);
    free(buffer);
    DestroyWindow(window);
    if (result == 0) printf("all steps passed\n");
    return result;
}
