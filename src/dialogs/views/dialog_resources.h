/* Resource ids of the property dialogs' templates in the Windows DLL, shared
   by the resource scripts and the Win32 view. Every dialog has a Japanese and
   an English template with the same control ids. */
#ifndef VIMBRA_DIALOG_RESOURCES_H
#define VIMBRA_DIALOG_RESOURCES_H

#define VIMBRA_DLG_CAMERA_JA 101
#define VIMBRA_DLG_IMAGE_FRAME_JA 102
#define VIMBRA_DLG_IMAGE_PAGE_JA 103
#define VIMBRA_DLG_ANALOG_FRAME_JA 104
#define VIMBRA_DLG_ANALOG_PAGE_JA 105
#define VIMBRA_DLG_CAMERA_EN 106
#define VIMBRA_DLG_IMAGE_PAGE_EN 107
#define VIMBRA_DLG_IMAGE_FRAME_EN 108
#define VIMBRA_DLG_ANALOG_PAGE_EN 110
#define VIMBRA_DLG_ANALOG_FRAME_EN 111
#define VIMBRA_DLG_GRAY_PAGE_EN 112
#define VIMBRA_DLG_GRAY_PAGE_JA 113

#endif
