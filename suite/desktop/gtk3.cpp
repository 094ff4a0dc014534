// The desktop plugin on GTK 3: the progress window, the questions, the
// message box and the password entry of suite/msgbox/desktop_abi.h.
//
// Threading: GTK belongs to one thread. The plugin starts its own, which
// opens the display and runs the main loop; every call hands its work to that
// thread and, except for the percentage and pace that the cipher reports
// often, waits until it is done. So the window repaints and Cancel answers
// however long the batch spends inside a file, and the caller's thread never
// touches GTK (a host with its own toolkit on its main thread is not
// disturbed by ours).
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "suite/msgbox/desktop_abi.h"

namespace {

// ---- The toolkit's thread --------------------------------------------------

struct Call {
  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

gboolean RunCall(gpointer data) {
  auto* call = static_cast<Call*>(data);
  call->work();
  std::lock_guard<std::mutex> lock(call->mutex);
  call->finished = true;
  call->done.notify_one();
  return G_SOURCE_REMOVE;
}

// Runs work on the toolkit's thread and returns once it is done.
void Sync(std::function<void()> work) {
  Call call;
  call.work = std::move(work);
  g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, RunCall, &call, nullptr);
  std::unique_lock<std::mutex> lock(call.mutex);
  call.done.wait(lock, [&] { return call.finished; });
}

gboolean RunPosted(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void FreePosted(gpointer data) { delete static_cast<std::function<void()>*>(data); }

// Runs work on the toolkit's thread later, without waiting.
void Post(std::function<void()> work) {
  g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, RunPosted, new std::function<void()>(std::move(work)),
                             FreePosted);
}

int StartToolkit() {
  std::mutex mutex;
  std::condition_variable ready;
  int opened = -1;
  std::thread([&] {
    const bool ok = gtk_init_check(nullptr, nullptr);
    {
      std::lock_guard<std::mutex> lock(mutex);
      opened = ok ? 1 : 0;
      ready.notify_one();
    }
    // The thread lives as long as the process: windows may be asked for
    // until its end, and a display connection is not given back.
    if (ok) gtk_main();
  }).detach();
  std::unique_lock<std::mutex> lock(mutex);
  ready.wait(lock, [&] { return opened >= 0; });
  return opened;
}

// ---- The progress window ---------------------------------------------------

struct Progress {
  GtkWidget* window = nullptr;
  GtkWidget* name = nullptr;
  GtkWidget* bar = nullptr;
  GtkWidget* pace = nullptr;
  GtkWidget* button = nullptr;
  bool locked = false;  // no Cancel: the batch disabled the button
  std::atomic<bool> cancelled{false};
};

// On the toolkit's thread.
void PressCancel(Progress* p) {
  if (p->locked || p->cancelled) return;
  p->cancelled = true;
  // Seen at once; the batch stops at its next check.
  gtk_button_set_label(GTK_BUTTON(p->button), "Cancelling");
  gtk_widget_set_sensitive(p->button, FALSE);
}

void OnCancelClicked(GtkButton*, gpointer data) { PressCancel(static_cast<Progress*>(data)); }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  PressCancel(static_cast<Progress*>(data));
  return TRUE;  // the window stays until the batch lets it go
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  PressCancel(static_cast<Progress*>(data));
  return TRUE;
}

void Build(Progress* p) {
  p->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(p->window), 420, -1);
  gtk_window_set_resizable(GTK_WINDOW(p->window), FALSE);
  gtk_window_set_position(GTK_WINDOW(p->window), GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(p->window), 14);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  p->name = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(p->name), 0);
  // A long path keeps its start and its file name; the middle gives way.
  gtk_label_set_ellipsize(GTK_LABEL(p->name), PANGO_ELLIPSIZE_MIDDLE);
  gtk_label_set_width_chars(GTK_LABEL(p->name), 48);
  p->bar = gtk_progress_bar_new();
  gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(p->bar), TRUE);
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(p->bar), "0%");
  p->pace = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(p->pace), 0);
  p->button = gtk_button_new_with_mnemonic("_Cancel");
  gtk_widget_set_halign(p->button, GTK_ALIGN_END);
  gtk_box_pack_start(GTK_BOX(box), p->name, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), p->bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), p->pace, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), p->button, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(p->window), box);
  g_signal_connect(p->button, "clicked", G_CALLBACK(OnCancelClicked), p);
  g_signal_connect(p->window, "delete-event", G_CALLBACK(OnDelete), p);
  g_signal_connect(p->window, "key-press-event", G_CALLBACK(OnKey), p);
  gtk_widget_show_all(box);
}

void* ProgressCreate() {
  auto* p = new Progress;
  Sync([p] { Build(p); });
  return p;
}

void ProgressDestroy(void* handle) {
  auto* p = static_cast<Progress*>(handle);
  // Posted updates still queued run before this, on the same thread, in order.
  Sync([p] { gtk_widget_destroy(p->window); });
  delete p;
}

void ProgressSetTitle(void* handle, const char* title) {
  auto* p = static_cast<Progress*>(handle);
  std::string text = title ? title : "";
  Sync([p, text] { gtk_window_set_title(GTK_WINDOW(p->window), text.c_str()); });
}

void ProgressSetName(void* handle, const char* name) {
  auto* p = static_cast<Progress*>(handle);
  std::string text = name ? name : "";
  Sync([p, text] {
    gtk_label_set_text(GTK_LABEL(p->name), text.c_str());
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p->bar), 0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(p->bar), "0%");
  });
}

void ProgressSetPercent(void* handle, int32_t percent) {
  auto* p = static_cast<Progress*>(handle);
  percent = std::clamp(percent, 0, 100);
  Post([p, percent] {
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p->bar), percent / 100.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(p->bar), (std::to_string(percent) + "%").c_str());
  });
}

void ProgressSetPace(void* handle, const char* pace) {
  auto* p = static_cast<Progress*>(handle);
  Post([p, text = std::string(pace ? pace : "")] { gtk_label_set_text(GTK_LABEL(p->pace), text.c_str()); });
}

void ProgressDisableButton(void* handle) {
  auto* p = static_cast<Progress*>(handle);
  Sync([p] {
    p->locked = true;
    gtk_widget_set_sensitive(p->button, FALSE);
  });
}

void ProgressShow(void* handle, int shown) {
  auto* p = static_cast<Progress*>(handle);
  Sync([p, shown] {
    if (shown) gtk_window_present(GTK_WINDOW(p->window));
    else gtk_widget_hide(p->window);
  });
}

int ProgressCancelled(void* handle) { return static_cast<Progress*>(handle)->cancelled ? 1 : 0; }

// ---- Dialogs ---------------------------------------------------------------

const char* IconName(int icon) {
  switch (icon) {
    case HALVEX_DESKTOP_ICON_ERROR: return "dialog-error";
    case HALVEX_DESKTOP_ICON_INFO: return "dialog-information";
    default: return "dialog-question";
  }
}

// A dialog with an icon and text, its buttons at the bottom right; content
// (if any) below the text.
GtkWidget* NewDialog(const std::string& title, const std::string& text, int icon) {
  GtkWidget* dialog = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(dialog), 8);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_icon_name(IconName(icon), GTK_ICON_SIZE_DIALOG), FALSE,
                     FALSE, 0);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_selectable(GTK_LABEL(label), FALSE);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(area), row, FALSE, FALSE, 6);
  gtk_widget_show_all(area);
  return dialog;
}

int32_t Ask(const char* title, const char* text, int icon, const HalvexDesktopButton* buttons, int32_t count,
            int32_t defaultId, int32_t cancelId) {
  int32_t answer = cancelId;
  Sync([&] {
    GtkWidget* dialog = NewDialog(title ? title : "", text ? text : "", icon);
    for (int32_t i = 0; i < count; ++i) {
      GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].label, buttons[i].id);
      if (buttons[i].id == defaultId) {
        gtk_widget_set_can_default(button, TRUE);
        gtk_widget_grab_default(button);
        gtk_widget_grab_focus(button);
      }
    }
    // Response ids are ours: positive, never GTK's own (which are negative).
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response >= 0) answer = response;
    gtk_widget_destroy(dialog);
  });
  return answer;
}

void Message(const char* title, const char* text, int icon) {
  Sync([&] {
    std::string body = text ? text : "";
    // Short text in the dialog itself; a long summary in a box that scrolls.
    const bool longText = std::count(body.begin(), body.end(), '\n') > 8 || body.size() > 600;
    GtkWidget* dialog = NewDialog(title ? title : "", longText ? "" : body, icon);
    if (longText) {
      GtkWidget* view = gtk_text_view_new();
      gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
      gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
      gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
      gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), body.c_str(), -1);
      GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_widget_set_size_request(scroll, 520, 260);
      gtk_container_add(GTK_CONTAINER(scroll), view);
      gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), scroll, TRUE, TRUE, 0);
      gtk_widget_show_all(scroll);
      gtk_window_set_resizable(GTK_WINDOW(dialog), TRUE);
    }
    GtkWidget* close = gtk_dialog_add_button(GTK_DIALOG(dialog), "_Close", GTK_RESPONSE_CLOSE);
    gtk_widget_set_can_default(close, TRUE);
    gtk_widget_grab_default(close);
    gtk_widget_grab_focus(close);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
  });
}

int Secret(const char* title, const char* prompt, char* buffer, size_t capacity) {
  int result = 0;
  Sync([&] {
    GtkWidget* dialog = NewDialog(title ? title : "", prompt ? prompt : "", HALVEX_DESKTOP_ICON_QUESTION);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_PASSWORD);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), entry, FALSE, FALSE, 6);
    gtk_widget_show(entry);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL);
    GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
    gtk_widget_set_can_default(ok, TRUE);
    gtk_widget_grab_default(ok);
    gtk_widget_grab_focus(entry);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
      const char* typed = gtk_entry_get_text(GTK_ENTRY(entry));
      const size_t length = std::strlen(typed);
      if (length + 1 > capacity) {
        result = -1;
      } else {
        std::memcpy(buffer, typed, length + 1);
        result = 1;
      }
    }
    // The entry's own copy is overwritten as far as GTK lets us reach it.
    GtkEntryBuffer* held = gtk_entry_get_buffer(GTK_ENTRY(entry));
    gtk_entry_buffer_delete_text(held, 0, -1);
    gtk_widget_destroy(dialog);
  });
  return result;
}

const HalvexDesktopTable kTable = {
    HALVEX_DESKTOP_ABI,   StartToolkit,      ProgressCreate,        ProgressDestroy,
    ProgressSetTitle,     ProgressSetName,   ProgressSetPercent,    ProgressSetPace,
    ProgressDisableButton, ProgressShow,     ProgressCancelled,     Ask,
    Message,              Secret,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const HalvexDesktopTable* HalvexDesktopEntry(void) {
  return &kTable;
}
