#pragma once

#include "base/Published.h"
#include "components/CustomButtonView.h"
#include "screens/Coordinator.h"
#include "workflow/InstallationViewModel.h"

#include <QWidget>

#include <memory>
#include <vector>

class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QScrollArea;

namespace tarn {

// What every screen shares: the navigation and workflow objects it was built with, one "appear"
// moment for its on-appear actions, subscriptions that end with the screen, and a redraw after every
// assignment of the workflow's published state. A screen is built afresh each time it becomes
// current and deleted when it stops being current, so its tasks hold it only through a QPointer.
class ScreenView : public QWidget {
    Q_OBJECT
public:
    ScreenView(Coordinator& coordinator, InstallationViewModel& viewModel, QWidget* parent = nullptr);

    // Runs the on-appear actions, once; the root view calls it as it shows the screen, and showing
    // the screen any other way calls it too.
    void appear();
    bool hasAppeared() const { return appeared; }

protected:
    virtual void onAppear() {}
    // Draws the workflow's current published state; runs after every assignment.
    virtual void refresh() {}

    void showEvent(QShowEvent* event) override;

    void keep(Subscription subscription) { subscriptions.push_back(std::move(subscription)); }

    // Calls `handler` with each delivered value that differs from the one before, from now on (the
    // current value is not delivered): the counterpart of a change handler.
    template <typename T, typename Handler>
    void onChange(Published<T>& property, Handler handler) {
        auto previous = std::make_shared<T>(property.value());
        keep(property.subscribe([previous, handler = std::move(handler)](const T& value) {
            if (value == *previous) {
                return;
            }
            *previous = value;
            handler(value);
        }));
    }

    Coordinator& coordinator;
    InstallationViewModel& viewModel;

private:
    bool appeared = false;
    std::vector<Subscription> subscriptions;
};

// The screen template: fonts, colours, the bar buttons and the dark scroll areas.
namespace screen {

inline constexpr QSize barButtonSize{155, 56};
inline constexpr qreal buttonCornerRadius = 32;
inline constexpr int barButtonGap = 24;

// A wrapping label in one of the shipped faces and a colour asset.
QLabel* label(const QString& text, QStringView fontName, qreal size, QStringView colorName = u"labelText");
// The template's title ("Poppins-Medium" 32, or the size given) and subtitle ("Poppins-Light" 16).
QLabel* title(const QString& text, qreal size = 32);
QLabel* subtitle(const QString& text);

// A button of the given size with corner radius 32 and no arrow.
CustomButtonView* button(const QString& key, ButtonStyleType style, QSize size = barButtonSize);

// Cancel, a flexible space, Back, a 24-point gap and the Next-type button. The space takes what the
// row leaves, `preferredSpace` at most: the 700-point column cannot always hold more.
// The screen's column of content, inset by `margins`, without spacing of its own.
QVBoxLayout* column(QWidget* screen, const QMargins& margins);

struct BottomBar {
    QHBoxLayout* layout = nullptr;
    CustomButtonView* cancel = nullptr;
    CustomButtonView* back = nullptr;
    CustomButtonView* next = nullptr;
};
BottomBar bottomBar(const QString& nextKey, int preferredSpace);

// A vertical scroll area with a transparent face and thin scroll bars for the dark background.
QScrollArea* scrollArea(QWidget* content);
// The style sheet of those scroll bars, for other scrolling views (the documents).
QString scrollBarStyleSheet();
// "rgba(r,g,b,a)" for style sheets.
QString css(const QColor& color);

} // namespace screen

} // namespace tarn
