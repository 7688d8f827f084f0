// The About box of Tolvern Midi Applications' programs.
#pragma once

#if defined(__GNUC__)
#define TOLVERNVERSION_API __attribute__((visibility("default")))
#else
#define TOLVERNVERSION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Shows a modal About box for the calling program and returns when the user
// closes it. `owner` is the owning window (a QWidget*) or null for none;
// `instance` is the program's module instance, the root of its pictures in
// Qt's resource system (":/brisolde"), where the icon `iconId` is found as
// "<instance>/icons/<iconId>-<size>.png" and the picture `bitmapId` as
// "<instance>/bitmaps/<bitmapId>.png". The box shows the icon, the picture,
// the application name and its version. Returns the dialog's result, or -1
// when the program has no running QApplication.
TOLVERNVERSION_API int TolvernVersionAbout(void* owner, const char* instance, unsigned iconId,
                                           unsigned bitmapId);

#ifdef __cplusplus
}
#endif
