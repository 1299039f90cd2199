#pragma once

#include <QString>

#include <functional>
#include <optional>

// The desktop's folder chooser (the file-chooser portal where one runs). Shown without
// blocking; the completion gets the chosen folder, or nothing when the user cancelled.
class FolderChooser {
public:
    using Completion = std::function<void(std::optional<QString> folder)>;

    virtual ~FolderChooser() = default;

    // `prompt` labels the accept button, `message` tells the user what to choose.
    virtual void begin(const QString& prompt, const QString& message, Completion completion);
};
