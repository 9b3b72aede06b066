#include "screens/DeviceDetectedScreenView.h"

#include "components/ImageView.h"
#include "components/Resources.h"
#include "screens/DeviceDetectedState.h"
#include "screens/DevicePicker.h"
#include "workflow/DeviceChoice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tarn {

using namespace Qt::StringLiterals;

DeviceDetectedScreenView::DeviceDetectedScreenView(Coordinator& coordinator, InstallationViewModel& viewModel,
                                                   QWidget* parent)
    : ScreenView(coordinator, viewModel, parent), titleTemplate(localized(u"device.detected.title")),
      uknownDevice(localized(u"device.detected.unknown")),
      image(new ImageView(u"success"_s, QSize(imageSide, imageSide))), title(new QLabel),
      subtitle(screen::subtitle(QString())), pickerRow(new QWidget), devicePicker(new DevicePicker),
      bar(screen::bottomBar(u"button.next"_s, spaceBetweenCancelBack)) {
    auto* column = screen::column(this, {trailingLeadingMargin, topMargin, trailingLeadingMargin, bottomMargin});

    auto* block = new QHBoxLayout;
    block->setSpacing(32);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    title->setTextFormat(Qt::RichText);
    title->setWordWrap(true);
    texts->addWidget(title);
    texts->addSpacing(12);
    texts->addWidget(subtitle);
    texts->addSpacing(20);
    pickerRow->setFixedHeight(pickerRowHeight);
    auto* pickerLayout = new QHBoxLayout(pickerRow);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->addWidget(devicePicker, 0, Qt::AlignLeft | Qt::AlignVCenter);
    devicePicker->setAccessibleName(localized(u"device.picker.accessible.name"));
    texts->addWidget(pickerRow);
    texts->addStretch(1);
    block->addLayout(texts, 1);
    block->addWidget(image, 0, Qt::AlignTop);
    column->addLayout(block);
    column->addStretch(1);
    column->addSpacing(24);
    column->addLayout(bar.layout);

    connect(devicePicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            setSelection(devicePicker->itemText(index));
        }
    });
    connect(bar.cancel, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::exit); });
    connect(bar.back, &CustomButtonView::clicked, this, [this] { this->coordinator.pop(); });
    connect(bar.next, &CustomButtonView::clicked, this,
            [this] { this->coordinator.push(Coordinator::Screen::appManager); });

    onChange(viewModel.deviceModel,
             [this](const std::optional<TARNDeviceModel>& device) { setButtonsEnabled(device.has_value()); });

    setButtonsEnabled(isButtonEnabled);
    refresh();
}

void DeviceDetectedScreenView::setSelection(std::optional<QString> name) {
    if (name == selected) {
        return;
    }
    selected = std::move(name);
    showSelectionInPicker();
    if (selected) {
        const auto device = deviceForSelection(*selected, viewModel.supportedDevices(), viewModel.deviceModel());
        if (device != viewModel.deviceModel()) {
            viewModel.deviceModel = device;
        }
    }
}

QString DeviceDetectedScreenView::imageName() const {
    return image->imageName();
}

QString DeviceDetectedScreenView::titleText() const {
    return deviceDetectedPresentation(viewModel.deviceSearchStatus(), viewModel.deviceModel(), titleTemplate,
                                      uknownDevice)
            .title.string();
}

void DeviceDetectedScreenView::onAppear() {
    setSelection(initialDeviceSelection(viewModel.deviceModel(), viewModel.supportedDeviceNames()));
    if (viewModel.deviceModel()) {
        setButtonsEnabled(true);
    }
}

void DeviceDetectedScreenView::refresh() {
    const DeviceDetectedPresentation presentation = deviceDetectedPresentation(
            viewModel.deviceSearchStatus(), viewModel.deviceModel(), titleTemplate, uknownDevice);
    image->setImageName(presentation.imageName);
    image->setAccessibleName(presentation.title.string());
    title->setText(presentation.title.toHtml());
    title->setAccessibleName(presentation.title.string());
    subtitle->setText(presentation.subtitle);
    // Keeps its height when hidden, so the texts do not move.
    devicePicker->setVisible(presentation.showsPicker);

    const QStringList names = viewModel.supportedDeviceNames();
    QStringList shown;
    for (int index = 0; index < devicePicker->count(); ++index) {
        shown.append(devicePicker->itemText(index));
    }
    if (shown != names) {
        const QSignalBlocker quiet(devicePicker);
        devicePicker->clear();
        devicePicker->addItems(names);
        showSelectionInPicker();
    }
    devicePicker->setEnabled(!names.isEmpty());
}

void DeviceDetectedScreenView::setButtonsEnabled(bool enabled) {
    isButtonEnabled = enabled;
    for (CustomButtonView* button : {bar.cancel, bar.back, bar.next}) {
        button->setEnabled(isButtonEnabled);
    }
}

void DeviceDetectedScreenView::showSelectionInPicker() {
    const QSignalBlocker quiet(devicePicker);
    devicePicker->setCurrentIndex(selected ? devicePicker->findText(*selected, Qt::MatchExactly) : -1);
}

} // namespace tarn
