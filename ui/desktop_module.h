// The contract between the program and its window module: a C interface.
// The module has a C++ runtime of its own (the program's is linked in, the
// module's toolkit uses the system's shared one), so only plain values,
// pointers to them and functions cross: no C++ object, and no exception
// (every function of either side catches all of its own). The module does
// the toolkit's part of the desktop view (window_toolkit.h); the program,
// through module_toolkit.h, all the rest.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The program's side: the user's actions, told by the module. `control` is
// a row of kForm1Controls; as WindowActions (window_toolkit.h).
struct MorvaneWindowActions {
  void* context;
  void (*clicked)(void* context, int control);
  void (*check_clicked)(void* context, int control, int state);
  void (*option_selected)(void* context, int control);
  void (*text_edited)(void* context, int control, const char16_t* text, size_t length);
  void (*slider_moved)(void* context, int control, int position);
  void (*cancel_key_pressed)(void* context);
  void (*close_requested)(void* context);
};

// The program's side: a batch's progress, as the module's progress window
// reads it (BatchProgress).
struct MorvaneBatchProgress {
  void* context;
  size_t (*done)(void* context);
  size_t (*total)(void* context);
  int (*finished)(void* context);
  int (*cancel_requested)(void* context);
  void (*request_cancel)(void* context);
};

// Takes a text the module gives back.
typedef void (*MorvaneTextReceiver)(void* context, const char16_t* text, size_t length);

// The module's side: its toolkit, as WindowToolkit; `self` is its own.
// make_window gives 0 when the window cannot be made; choose_folder gives
// 1 and hands the folder to `receive`, or 0 when the user cancels, or -1
// when the chooser cannot be shown. Booleans are 0 or 1.
struct MorvaneToolkit {
  void* self;
  void (*destroy)(void* self);
  void (*show_message)(void* self, const char16_t* text, size_t text_length, const char16_t* title,
                       size_t title_length, int error_icon);
  int (*make_window)(void* self, const MorvaneWindowActions* actions);
  void (*show_window)(void* self);
  void (*hide_window)(void* self);
  void (*run_event_loop)(void* self);
  void (*quit_event_loop)(void* self);
  int (*choose_folder)(void* self, const char16_t* title, size_t title_length,
                       MorvaneTextReceiver receive, void* receiver_context);
  void (*set_enabled)(void* self, int control, int enabled);
  void (*set_check)(void* self, int control, int state);
  void (*set_tab_stop)(void* self, int control, int tab_stop);
  void (*set_text)(void* self, int control, const char16_t* text, size_t length);
  void (*set_caption)(void* self, int control, const char16_t* text, size_t length);
  void (*set_position)(void* self, int control, int position);
  void (*set_back_colour)(void* self, int control, uint32_t colour);
  void (*focus)(void* self, int control);
  void (*show_progress_until_finished)(void* self, const MorvaneBatchProgress* progress);
};

// int MorvaneOpenDesktopToolkit(MorvaneToolkit* toolkit): starts the
// toolkit on a display, fills `toolkit` and gives 1; gives 0 when no
// display can be used. The caller ends it with toolkit->destroy.
typedef int (*MorvaneOpenDesktopToolkitFunction)(MorvaneToolkit* toolkit);
}

namespace morvane {

// The module lies in the program's folder under the name the platform gives
// it (kDesktopModuleFileName); this is its entry point.
inline constexpr char kOpenDesktopToolkitName[] = "MorvaneOpenDesktopToolkit";

}  // namespace morvane
