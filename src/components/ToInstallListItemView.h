#pragma once

#include "components/StyledText.h"
#include "workflow/ToInstallListItemViewState.h"

#include <QWidget>

#include <optional>

class QLabel;

namespace tarn {

class ImageView;
class SpinnerView;

// What a task row shows for a state: its icon (turning for work in progress) and the state text
// after the name, with the colour asset of that text.
struct TaskRowPresentation {
    QString iconName;
    bool isIconTurning = false;
    std::optional<QString> stateTextKey;
    QString stateColorName;

    friend bool operator==(const TaskRowPresentation&, const TaskRowPresentation&) = default;
};

TaskRowPresentation taskRowPresentation(ToInstallListItemViewState state);
// The row's text: the name as it is, then " - " and the localised state text.
StyledText taskRowText(const QString& name, ToInstallListItemViewState state);

// One row of the installation task list.
class ToInstallListItemView : public QWidget {
    Q_OBJECT
public:
    explicit ToInstallListItemView(const QString& name,
                                   ToInstallListItemViewState state = ToInstallListItemViewState::ready,
                                   double downloadProgress = 0, QWidget* parent = nullptr);

    void setName(const QString& name);
    QString name() const { return taskName; }
    void setState(ToInstallListItemViewState state);
    ToInstallListItemViewState state() const { return taskState; }
    // Carried with the row; the row does not draw it.
    void setDownloadProgress(double progress) { progressValue = progress; }
    double downloadProgress() const { return progressValue; }

    SpinnerView* spinner() const { return spinnerView; }
    ImageView* icon() const { return iconView; }
    QString displayedText() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    QString taskName;
    ToInstallListItemViewState taskState;
    double progressValue;
    ImageView* iconView;
    SpinnerView* spinnerView;
    QLabel* textLabel;
};

} // namespace tarn
