#include "ui/module_toolkit.h"

#include <exception>

#include "core/step_failure.h"

namespace morvane {
namespace {

// Runs `body`; nothing it throws passes into the module.
template <class Body>
void Caught(Body body) {
  try {
    body();
  } catch (...) {
    // The action or the look at the progress is given up; the window goes on.
  }
}

WindowActions& ActionsOf(void* context) { return *static_cast<WindowActions*>(context); }

const MorvaneWindowActions kActions = {
    nullptr,
    [](void* context, int control) { Caught([&] { ActionsOf(context).Clicked(control); }); },
    [](void* context, int control, int state) {
      Caught([&] { ActionsOf(context).CheckClicked(control, state); });
    },
    [](void* context, int control) { Caught([&] { ActionsOf(context).OptionSelected(control); }); },
    [](void* context, int control, const char16_t* text, size_t length) {
      Caught([&] { ActionsOf(context).TextEdited(control, std::u16string_view(text, length)); });
    },
    [](void* context, int control, int position) {
      Caught([&] { ActionsOf(context).SliderMoved(control, position); });
    },
    [](void* context) { Caught([&] { ActionsOf(context).CancelKeyPressed(); }); },
    [](void* context) { Caught([&] { ActionsOf(context).CloseRequested(); }); },
};

BatchProgress& ProgressOf(void* context) { return *static_cast<BatchProgress*>(context); }

// BatchProgress's readers throw nothing.
const MorvaneBatchProgress kProgress = {
    nullptr,
    [](void* context) { return ProgressOf(context).done(); },
    [](void* context) { return ProgressOf(context).total(); },
    [](void* context) { return ProgressOf(context).finished() ? 1 : 0; },
    [](void* context) { return ProgressOf(context).cancel_requested() ? 1 : 0; },
    [](void* context) { ProgressOf(context).RequestCancel(); },
};

class ModuleToolkit final : public WindowToolkit {
 public:
  explicit ModuleToolkit(const MorvaneToolkit& toolkit) : t_(toolkit) {}
  ~ModuleToolkit() override { t_.destroy(t_.self); }
  ModuleToolkit(const ModuleToolkit&) = delete;
  ModuleToolkit& operator=(const ModuleToolkit&) = delete;

  void ShowMessage(std::u16string_view text, std::u16string_view title, MessageIcon icon) override {
    t_.show_message(t_.self, text.data(), text.size(), title.data(), title.size(),
                    icon == MessageIcon::kError ? 1 : 0);
  }
  bool MakeWindow(WindowActions& actions) override {
    actions_ = kActions;
    actions_.context = &actions;
    return t_.make_window(t_.self, &actions_) != 0;
  }
  void ShowWindow() override { t_.show_window(t_.self); }
  void HideWindow() override { t_.hide_window(t_.self); }
  void RunEventLoop() override { t_.run_event_loop(t_.self); }
  void QuitEventLoop() override { t_.quit_event_loop(t_.self); }
  std::optional<std::u16string> ChooseFolder(std::u16string_view title) override {
    std::u16string chosen;
    const MorvaneTextReceiver receive = [](void* context, const char16_t* text, size_t length) {
      Caught([&] { static_cast<std::u16string*>(context)->assign(text, length); });
    };
    const int result = t_.choose_folder(t_.self, title.data(), title.size(), receive, &chosen);
    if (result < 0) throw StepFailure("the folder chooser cannot be shown");
    if (result == 0) return std::nullopt;
    return chosen;
  }
  void SetEnabled(int control, bool enabled) override {
    t_.set_enabled(t_.self, control, enabled ? 1 : 0);
  }
  void SetCheck(int control, int state) override { t_.set_check(t_.self, control, state); }
  void SetTabStop(int control, bool tab_stop) override {
    t_.set_tab_stop(t_.self, control, tab_stop ? 1 : 0);
  }
  void SetText(int control, std::u16string_view text) override {
    t_.set_text(t_.self, control, text.data(), text.size());
  }
  void SetCaption(int control, std::u16string_view caption) override {
    t_.set_caption(t_.self, control, caption.data(), caption.size());
  }
  void SetPosition(int control, int position) override {
    t_.set_position(t_.self, control, position);
  }
  void SetBackColour(int control, uint32_t colour) override {
    t_.set_back_colour(t_.self, control, colour);
  }
  void Focus(int control) override { t_.focus(t_.self, control); }
  void ShowProgressUntilFinished(BatchProgress& progress) override {
    MorvaneBatchProgress reader = kProgress;
    reader.context = &progress;
    t_.show_progress_until_finished(t_.self, &reader);
  }

 private:
  MorvaneToolkit t_;
  MorvaneWindowActions actions_{};  // lives as long as the window
};

}  // namespace

std::unique_ptr<WindowToolkit> MakeModuleToolkit(const MorvaneToolkit& toolkit) {
  return std::make_unique<ModuleToolkit>(toolkit);
}

}  // namespace morvane
