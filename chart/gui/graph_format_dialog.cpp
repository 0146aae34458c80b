#include "chart/gui/graph_format_dialog.h"

#include "chart/gui/chart_controls.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace calvora {

ColourPicker SystemColourPicker() {
    return [](QWidget* parent) -> std::optional<uint32_t> {
        const QColor colour = QColorDialog::getColor(QColor(), parent);
        if (!colour.isValid())
            return std::nullopt;
        return RefFromColour(colour);
    };
}

namespace {
constexpr QSize kSwatchSize(48, 20);

QPushButton* MoreButton(QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setFixedWidth(32);
    return button;
}
} // namespace

GraphFormatDialog::GraphFormatDialog(RecordingDocument& document, GraphFormatHooks hooks, QWidget* parent)
    : QDialog(parent), document_(document), hooks_(std::move(hooks)), background_(new ColourSwatch(this)),
      grid_(new ColourSwatch(this)), trace_(new ColourSwatch(this)),
      gridVisible_(new QCheckBox(QStringLiteral("Horizontal Axis"), this)),
      verticalAxis_(new QCheckBox(QStringLiteral("Vertical Axis"), this)),
      traceVisible_(new QCheckBox(QStringLiteral("Data Visible"), this)),
      markPoints_(new QCheckBox(QStringLiteral("Mark Points"), this)),
      alarmHighBox_(new QCheckBox(QStringLiteral("Alarm High"), this)),
      alarmLowBox_(new QCheckBox(QStringLiteral("Alarm Low"), this)), channels_(new QComboBox(this)),
      save_(new QCheckBox(QStringLiteral("Save this setting"), this)) {
    setWindowTitle(QStringLiteral("Graph Format"));
    if (!hooks_.pickColour)
        hooks_.pickColour = SystemColourPicker();
    for (ColourSwatch* swatch : {background_, grid_, trace_})
        swatch->setFixedSize(kSwatchSize);

    auto* graph = new QGroupBox(QStringLiteral("Graph Format"), this);
    auto* graphGrid = new QGridLayout(graph);
    graphGrid->addWidget(new QLabel(QStringLiteral("Background"), graph), 0, 0);
    graphGrid->addWidget(background_, 0, 1);
    auto* backgroundMore = MoreButton(graph);
    graphGrid->addWidget(backgroundMore, 0, 2);
    graphGrid->addWidget(gridVisible_, 1, 0);
    graphGrid->addWidget(verticalAxis_, 2, 0);
    graphGrid->addWidget(grid_, 1, 1);
    auto* gridMore = MoreButton(graph);
    graphGrid->addWidget(gridMore, 1, 2);

    auto* data = new QGroupBox(QStringLiteral("Data Format"), this);
    auto* dataGrid = new QGridLayout(data);
    dataGrid->addWidget(traceVisible_, 0, 0);
    dataGrid->addWidget(trace_, 0, 1);
    auto* traceMore = MoreButton(data);
    dataGrid->addWidget(traceMore, 0, 2);
    dataGrid->addWidget(markPoints_, 1, 0);

    // Kept but never shown: the channel list (so only the first channel is edited), the alarm flags and
    // "Save this setting", which starts checked.
    for (QWidget* hidden : {static_cast<QWidget*>(channels_), static_cast<QWidget*>(alarmHighBox_),
                            static_cast<QWidget*>(alarmLowBox_), static_cast<QWidget*>(save_)})
        hidden->hide();
    save_->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &GraphFormatDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &GraphFormatDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(graph);
    layout->addWidget(data);
    layout->addWidget(buttons);

    const ChartSettings& settings = document.settings;
    const int channels = std::min<int>(document.channelCount(), kMaxChannels);
    for (int c = 0; c < std::max(channels, 1); ++c) {
        channels_->addItem(QString::fromStdU16String(document.channelName[static_cast<size_t>(c)]));
        const auto i = static_cast<size_t>(c);
        visible_[i] = settings.traceVisible[i];
        alarmHigh_[i] = settings.alarmHigh[i];
        alarmLow_[i] = settings.alarmLow[i];
        marks_[i] = settings.markPoints[i];
        colours_[i] = settings.traceColour[i];
    }
    background_->SetColour(settings.backgroundColour);
    grid_->SetColour(settings.gridColour);
    gridVisible_->setChecked(settings.gridVisible != 0);
    verticalAxis_->setChecked(settings.verticalAxisVisible != 0);
    ShowChannel(0);

    connect(backgroundMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseBackground);
    connect(gridMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseGrid);
    connect(traceMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseTrace);
    connect(traceVisible_, &QCheckBox::clicked, this, [this] { StoreFlag(traceVisible_, visible_); });
    connect(markPoints_, &QCheckBox::clicked, this, [this] { StoreFlag(markPoints_, marks_); });
    connect(alarmHighBox_, &QCheckBox::clicked, this, [this] { StoreFlag(alarmHighBox_, alarmHigh_); });
    connect(alarmLowBox_, &QCheckBox::clicked, this, [this] { StoreFlag(alarmLowBox_, alarmLow_); });
    connect(channels_, &QComboBox::currentIndexChanged, this, &GraphFormatDialog::ShowChannel);
}

void GraphFormatDialog::ShowChannel(int channel) {
    if (channel < 0 || channel >= kMaxChannels)
        return;
    channel_ = channel;
    const auto i = static_cast<size_t>(channel);
    trace_->SetColour(colours_[i]);
    traceVisible_->setChecked(visible_[i] != 0);
    markPoints_->setChecked(marks_[i] != 0);
    alarmHighBox_->setChecked(alarmHigh_[i] != 0);
    alarmLowBox_->setChecked(alarmLow_[i] != 0);
}

void GraphFormatDialog::StoreFlag(QCheckBox* box, std::array<uint8_t, kMaxChannels>& flags) {
    flags[static_cast<size_t>(channel_)] = box->isChecked() ? 1 : 0;
}

void GraphFormatDialog::ChooseBackground() {
    if (const auto colour = hooks_.pickColour(this))
        background_->SetColour(*colour);
}

void GraphFormatDialog::ChooseGrid() {
    if (const auto colour = hooks_.pickColour(this))
        grid_->SetColour(*colour);
}

void GraphFormatDialog::ChooseTrace() {
    if (const auto colour = hooks_.pickColour(this)) {
        trace_->SetColour(*colour);
        colours_[static_cast<size_t>(channel_)] = *colour;
    }
}

void GraphFormatDialog::accept() {
    ChartSettings& settings = document_.settings;
    const int channels = std::min<int>(document_.channelCount(), kMaxChannels);
    for (int c = 0; c < channels; ++c) {
        const auto i = static_cast<size_t>(c);
        settings.traceVisible[i] = visible_[i];
        settings.alarmHigh[i] = alarmHigh_[i];
        settings.alarmLow[i] = alarmLow_[i];
        settings.markPoints[i] = marks_[i];
        settings.traceColour[i] = colours_[i];
    }
    settings.backgroundColour = background_->colour();
    settings.gridColour = grid_->colour();
    settings.gridVisible = gridVisible_->isChecked() ? 1 : 0;
    settings.verticalAxisVisible = verticalAxis_->isChecked() ? 1 : 0;

    // The live recording's settings are saved with it only once its samples have been saved.
    const bool liveDocument = hooks_.documents && hooks_.documents->recordingDocument == &document_;
    const bool saveNow = save_->isChecked() && (!liveDocument || hooks_.documents->dataSaved);
    if (saveNow && hooks_.save)
        hooks_.save(document_);
    if (hooks_.redraw)
        hooks_.redraw();
    QDialog::accept();
}

} // namespace calvora
