#include "platform/editor/ui/RawPcmDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace chimora {

namespace {
using SF = RawPcmParams::SampleFormat;
struct SampleFormatEntry {
    const char* text;
    SF format;
};
constexpr SampleFormatEntry kSampleFormats[] = {
    {"16-bit signed, little-endian", SF::S16LE},
    {"16-bit signed, big-endian", SF::S16BE},
    {"8-bit unsigned", SF::U8},
    {"8-bit signed", SF::S8},
    {"24-bit signed, little-endian", SF::S24LE},
    {"32-bit signed, little-endian", SF::S32LE},
    {"32-bit float, little-endian", SF::F32LE},
    {"8-bit \u00b5-law", SF::MuLaw},
    {"8-bit A-law", SF::ALaw},
};
} // namespace

RawPcmDialog::RawPcmDialog(const QString& fileName, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Raw audio format"));
    const RawPcmParams defaults;

    m_rate = new QComboBox(this);
    m_rate->setEditable(true);
    m_rate->setValidator(new QIntValidator(1000, 384000, m_rate));
    for (const int rate : {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000})
        m_rate->addItem(QString::number(rate));
    m_rate->setCurrentText(QString::number(defaults.sampleRate));

    m_channels = new QComboBox(this);
    m_channels->addItem(tr("Mono"), 1);
    m_channels->addItem(tr("Stereo"), 2);
    m_channels->setCurrentIndex(defaults.channels == 1 ? 0 : 1);

    m_sampleFormat = new QComboBox(this);
    for (const SampleFormatEntry& e : kSampleFormats) {
        m_sampleFormat->addItem(tr(e.text), static_cast<int>(e.format));
        if (e.format == defaults.sampleFormat)
            m_sampleFormat->setCurrentIndex(m_sampleFormat->count() - 1);
    }

    auto* intro = new QLabel(
        tr("%1 has no header that says how its audio is stored. Choose its layout:").arg(fileName),
        this);
    intro->setTextFormat(Qt::PlainText); // it names the user's file
    intro->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(tr("Sample &rate (Hz):"), m_rate);
    form->addRow(tr("&Channels:"), m_channels);
    form->addRow(tr("Sample &format:"), m_sampleFormat);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

RawPcmParams RawPcmDialog::params() const {
    RawPcmParams p;
    bool ok = false;
    const int rate = m_rate->currentText().toInt(&ok);
    if (ok && rate >= 1000)
        p.sampleRate = rate;
    p.channels = m_channels->currentData().toInt();
    p.sampleFormat = static_cast<SF>(m_sampleFormat->currentData().toInt());
    return p;
}

} // namespace chimora
