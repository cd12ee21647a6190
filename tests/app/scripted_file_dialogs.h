// File dialogs that answer from a script, installed for as long as the object lives.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/file_dialogs.h"

namespace app_testing {

class ScriptedFileDialogs : public kelo::app::FileDialogs {
  public:
    ScriptedFileDialogs() : previous_(kelo::app::SetFileDialogs(this)) {}
    ~ScriptedFileDialogs() override { kelo::app::SetFileDialogs(previous_); }
    ScriptedFileDialogs(const ScriptedFileDialogs&) = delete;
    ScriptedFileDialogs& operator=(const ScriptedFileDialogs&) = delete;

    // Records the request, then takes the next answer: a path, or nullopt for Cancel. A
    // dialog with no answer left is cancelled.
    bool Choose(QWidget* owner, const kelo::app::FileDialogRequest& request,
                std::string& path) override {
        asked.push_back(request);
        owners.push_back(owner);
        if (onShow)
            onShow();
        const std::optional<std::string> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.pop_front();
        if (answer)
            path = *answer;
        return answer.has_value();
    }

    std::deque<std::optional<std::string>> answers;
    std::vector<kelo::app::FileDialogRequest> asked;
    std::vector<QWidget*> owners;
    // Runs while each dialog is up, before it answers.
    std::function<void()> onShow;

  private:
    kelo::app::FileDialogs* previous_;
};

}  // namespace app_testing
