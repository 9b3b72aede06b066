#pragma once

#include "base/DownloadProgress.h"
#include "base/DownloadProgressText.h"
#include "base/ToInstallListItemViewState.h"
#include "components/StyledText.h"

#include <QVariant>
#include <QWidget>

#include <optional>

class QLabel;
class QTimer;

namespace tarn {

class DownloadProgressBar;
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

// One row of the installation task list. While it downloads, a thin bar and the figures under the
// text show how far it is, redrawn at most ten times a second; assistive tools read the percentage as
// the row's value and hear it announced at most every few seconds.
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
    static constexpr std::chrono::milliseconds redrawInterval{100};
    static constexpr std::chrono::milliseconds announcementInterval{3000};

    // Carried with the row; the bar is drawn from the bytes below.
    void setDownloadProgress(double progress) { progressValue = progress; }
    double downloadProgress() const { return progressValue; }
    // The bytes of the running download; shown only in the `downloading` state.
    void setDownload(const DownloadProgress& progress);
    DownloadProgress download() const { return downloadValue; }

    SpinnerView* spinner() const { return spinnerView; }
    ImageView* icon() const { return iconView; }
    QString displayedText() const;
    DownloadProgressBar* progressBar() const { return bar; }
    // The figures under the text as last drawn; empty while hidden.
    QString displayedProgressText() const;

Q_SIGNALS:
    // The percentage was just announced to assistive tools (as a value change of the row).
    void valueAnnounced(int percent);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void refreshDownload();
    void drawDownload();
    void announceDownload();

    QString taskName;
    ToInstallListItemViewState taskState;
    double progressValue;
    ImageView* iconView;
    SpinnerView* spinnerView;
    QLabel* textLabel;
    DownloadProgress downloadValue;
    QWidget* downloadLine;
    DownloadProgressBar* bar;
    QLabel* progressLabel;
    UpdateThrottle redraws{redrawInterval};
    UpdateThrottle announcements{announcementInterval};
    QTimer* owedRedraw;
    QTimer* owedAnnouncement;
    QString shownFigures;
    QVariant announcedValue;
};

} // namespace tarn
