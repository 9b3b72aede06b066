#pragma once

#include "screens/WindowHost.h"

#include <QList>
#include <QSize>
#include <QStringList>
#include <QUrl>

namespace tarn::test {

// A window host that records what the shell and the navigation ask of it. A granted termination is
// counted instead of ending the test.
class RecordingWindowHost final : public WindowHost {
public:
    void requestTermination() override {
        ++terminationRequests;
        if (isTerminationGranted()) {
            ++terminations;
        }
    }
    void setTitle(const QString& title) override { titles.append(title); }
    void setContentSize(const QSize& size) override { contentSizes.append(size); }
    void center() override { ++centerings; }
    void openFile(const QUrl& fileURL) override { openedFiles.append(fileURL); }

    int terminationRequests = 0;
    int terminations = 0;
    QStringList titles;
    QList<QSize> contentSizes;
    int centerings = 0;
    QList<QUrl> openedFiles;
};

} // namespace tarn::test
