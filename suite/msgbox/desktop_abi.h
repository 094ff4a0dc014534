/* The desktop plugin's interface: plain C, so that the plugin (which links
   the toolkit) and the suite libraries (which must not) meet only through a
   table of function pointers found by name. Every call may come from any one
   thread; the plugin runs the toolkit on a thread of its own. Text is UTF-8. */
#ifndef HALVEX_DESKTOP_ABI_H
#define HALVEX_DESKTOP_ABI_H

#include <stddef.h>
#include <stdint.h>

/* Raised whenever a member is added: an older plugin's table is refused. */
#define HALVEX_DESKTOP_ABI 1
/* The one symbol the plugin exports: const HalvexDesktopTable* (void). */
#define HALVEX_DESKTOP_ENTRY "HalvexDesktopEntry"

#define HALVEX_DESKTOP_ICON_QUESTION 0
#define HALVEX_DESKTOP_ICON_ERROR 1
#define HALVEX_DESKTOP_ICON_INFO 2

typedef struct HalvexDesktopButton {
  int32_t id;
  const char* label; /* with a mnemonic: "_Yes" */
} HalvexDesktopButton;

typedef struct HalvexDesktopTable {
  uint32_t abi;
  /* 1 when a display could be opened; called once, before anything else. */
  int (*start)(void);

  void* (*progress_create)(void);
  void (*progress_destroy)(void* progress);
  void (*progress_set_title)(void* progress, const char* title);
  void (*progress_set_name)(void* progress, const char* name);
  void (*progress_set_percent)(void* progress, int32_t percent);
  /* Rate and time left, or "" while they cannot be told yet. */
  void (*progress_set_pace)(void* progress, const char* pace);
  void (*progress_disable_button)(void* progress);
  void (*progress_show)(void* progress, int shown);
  /* 1 once Cancel was clicked (or Escape pressed, or the window closed). */
  int (*progress_cancelled)(void* progress);

  /* A modal question: the id of the button chosen; cancel_id when the
     dialog is closed or Escape pressed. default_id is what Enter chooses. */
  int32_t (*ask)(const char* title, const char* text, int icon, const HalvexDesktopButton* buttons, int32_t count,
                 int32_t default_id, int32_t cancel_id);
  /* A message with one button to close it; long text scrolls. */
  void (*message)(const char* title, const char* text, int icon);
  /* A secret typed without echo into buffer (NUL-terminated): 1 typed,
     0 cancelled, -1 longer than capacity - 1 bytes. */
  int (*secret)(const char* title, const char* prompt, char* buffer, size_t capacity);
} HalvexDesktopTable;

#endif
