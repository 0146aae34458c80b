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
    : QDialog(parent), m_document(document), m_hooks(std::move(hooks)), m_background(new ColourSwatch(this)),
      m_grid(new ColourSwatch(this)), m_trace(new ColourSwatch(this)),
      m_gridVisible(new QCheckBox(QStringLiteral("Horizontal Axis"), this)),
      m_verticalAxis(new QCheckBox(QStringLiteral("Vertical Axis"), this)),
      m_traceVisible(new QCheckBox(QStringLiteral("Data Visible"), this)),
      m_markPoints(new QCheckBox(QStringLiteral("Mark Points"), this)),
      m_alarmHighBox(new QCheckBox(QStringLiteral("Alarm High"), this)),
      m_alarmLowBox(new QCheckBox(QStringLiteral("Alarm Low"), this)), m_channels(new QComboBox(this)),
      m_save(new QCheckBox(QStringLiteral("Save this setting"), this)) {
    setWindowTitle(QStringLiteral("Graph Format"));
    if (!m_hooks.pickColour)
        m_hooks.pickColour = SystemColourPicker();
    for (ColourSwatch* swatch : {m_background, m_grid, m_trace})
        swatch->setFixedSize(kSwatchSize);

    auto* graph = new QGroupBox(QStringLiteral("Graph Format"), this);
    auto* graphGrid = new QGridLayout(graph);
    graphGrid->addWidget(new QLabel(QStringLiteral("Background"), graph), 0, 0);
    graphGrid->addWidget(m_background, 0, 1);
    auto* backgroundMore = MoreButton(graph);
    graphGrid->addWidget(backgroundMore, 0, 2);
    graphGrid->addWidget(m_gridVisible, 1, 0);
    graphGrid->addWidget(m_verticalAxis, 2, 0);
    graphGrid->addWidget(m_grid, 1, 1);
    auto* gridMore = MoreButton(graph);
    graphGrid->addWidget(gridMore, 1, 2);

    auto* data = new QGroupBox(QStringLiteral("Data Format"), this);
    auto* dataGrid = new QGridLayout(data);
    dataGrid->addWidget(m_traceVisible, 0, 0);
    dataGrid->addWidget(m_trace, 0, 1);
    auto* traceMore = MoreButton(data);
    dataGrid->addWidget(traceMore, 0, 2);
    dataGrid->addWidget(m_markPoints, 1, 0);

    // Kept but never shown: the channel list (so only the first channel is edited), the alarm flags and
    // "Save this setting", which starts checked.
    for (QWidget* hidden : {static_cast<QWidget*>(m_channels), static_cast<QWidget*>(m_alarmHighBox),
                            static_cast<QWidget*>(m_alarmLowBox), static_cast<QWidget*>(m_save)})
        hidden->hide();
    m_save->setChecked(true);

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
        m_channels->addItem(QString::fromStdU16String(document.channelName[static_cast<size_t>(c)]));
        const auto i = static_cast<size_t>(c);
        m_visible[i] = settings.traceVisible[i];
        m_alarmHigh[i] = settings.alarmHigh[i];
        m_alarmLow[i] = settings.alarmLow[i];
        m_marks[i] = settings.markPoints[i];
        m_colours[i] = settings.traceColour[i];
    }
    m_background->SetColour(settings.backgroundColour);
    m_grid->SetColour(settings.gridColour);
    m_gridVisible->setChecked(settings.gridVisible != 0);
    m_verticalAxis->setChecked(settings.verticalAxisVisible != 0);
    ShowChannel(0);

    connect(backgroundMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseBackground);
    connect(gridMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseGrid);
    connect(traceMore, &QPushButton::clicked, this, &GraphFormatDialog::ChooseTrace);
    connect(m_traceVisible, &QCheckBox::clicked, this, [this] { StoreFlag(m_traceVisible, m_visible); });
    connect(m_markPoints, &QCheckBox::clicked, this, [this] { StoreFlag(m_markPoints, m_marks); });
    connect(m_alarmHighBox, &QCheckBox::clicked, this, [this] { StoreFlag(m_alarmHighBox, m_alarmHigh); });
    connect(m_alarmLowBox, &QCheckBox::clicked, this, [this] { StoreFlag(m_alarmLowBox, m_alarmLow); });
    connect(m_channels, &QComboBox::currentIndexChanged, this, &GraphFormatDialog::ShowChannel);
}

void GraphFormatDialog::ShowChannel(int channel) {
    if (channel < 0 || channel >= kMaxChannels)
        return;
    m_channel = channel;
    const auto i = static_cast<size_t>(channel);
    m_trace->SetColour(m_colours[i]);
    m_traceVisible->setChecked(m_visible[i] != 0);
    m_markPoints->setChecked(m_marks[i] != 0);
    m_alarmHighBox->setChecked(m_alarmHigh[i] != 0);
    m_alarmLowBox->setChecked(m_alarmLow[i] != 0);
}

void GraphFormatDialog::StoreFlag(QCheckBox* box, std::array<uint8_t, kMaxChannels>& flags) {
    flags[static_cast<size_t>(m_channel)] = box->isChecked() ? 1 : 0;
}

void GraphFormatDialog::ChooseBackground() {
    if (const auto colour = m_hooks.pickColour(this))
        m_background->SetColour(*colour);
}

void GraphFormatDialog::ChooseGrid() {
    if (const auto colour = m_hooks.pickColour(this))
        m_grid->SetColour(*colour);
}

void GraphFormatDialog::ChooseTrace() {
    if (const auto colour = m_hooks.pickColour(this)) {
        m_trace->SetColour(*colour);
        m_colours[static_cast<size_t>(m_channel)] = *colour;
    }
}

void GraphFormatDialog::accept() {
    ChartSettings& settings = m_document.settings;
    const int channels = std::min<int>(m_document.channelCount(), kMaxChannels);
    for (int c = 0; c < channels; ++c) {
        const auto i = static_cast<size_t>(c);
        settings.traceVisible[i] = m_visible[i];
        settings.alarmHigh[i] = m_alarmHigh[i];
        settings.alarmLow[i] = m_alarmLow[i];
        settings.markPoints[i] = m_marks[i];
        settings.traceColour[i] = m_colours[i];
    }
    settings.backgroundColour = m_background->Colour();
    settings.gridColour = m_grid->Colour();
    settings.gridVisible = m_gridVisible->isChecked() ? 1 : 0;
    settings.verticalAxisVisible = m_verticalAxis->isChecked() ? 1 : 0;

    // The live recording's settings are saved with it only once its samples have been saved.
    const bool liveDocument = m_hooks.documents && m_hooks.documents->recordingDocument == &m_document;
    const bool saveNow = m_save->isChecked() && (!liveDocument || m_hooks.documents->dataSaved);
    if (saveNow && m_hooks.save)
        m_hooks.save(m_document);
    if (m_hooks.redraw)
        m_hooks.redraw();
    QDialog::accept();
}

} // namespace calvora
