#include "render/ui/RenderRingtone.h"

#include "platform/bass/Bass.h"
#include "render/RenderState.h"
#include "render/RingtoneRender.h"
#include "render/ui/Form3.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace chimora {

namespace {

struct RenderUi {
    RenderControls controls;
    QPointer<QCheckBox> fadeIn, fadeOut, evenLoudness;
    QPointer<QDoubleSpinBox> fadeSeconds;
    QPointer<Form3> progress; // shown only during a render
    QMetaObject::Connection tick;
    std::function<void(QMessageBox::Icon, const QString&)> messageHandler;
    bool rendering = false;
};

RenderUi& ui() {
    static RenderUi state;
    return state;
}

/// Timer4's tick: the bar follows the encoder's stream. A failing read is skipped.
void progressTick() {
    Form3* form = ui().progress;
    if (!form)
        return;
    const QWORD length = BASS_ChannelGetLength(EncodeStream, 0);
    const QWORD position = BASS_ChannelGetPosition(EncodeStream, 0);
    if (length == QWORD(-1) || position == QWORD(-1) || length == 0)
        return;
    const float percent = float(double(position) / double(length) * 100.0);
    form->ProgressBar1->setValue(std::clamp(int(std::lround(percent)), 0, 100));
}

void showMessage(QMessageBox::Icon icon, const QString& text) {
    if (ui().messageHandler) {
        ui().messageHandler(icon, text);
        return;
    }
    QMessageBox box(icon, QStringLiteral("Chimora"), text, QMessageBox::Ok, ui().controls.wizard);
    box.setTextFormat(Qt::PlainText); // the text holds file and ringtone names
    box.exec();
}

/// Drives the wizard and the progress window as the render goes.
class WindowObserver : public RenderObserver {
public:
    void preparing() override {
        RenderControls& c = ui().controls;
        if (c.wizard)
            c.wizard->setEnabled(false);
        Form3* form = new Form3(c.wizard);
        form->setAttribute(Qt::WA_DeleteOnClose, false);
        ui().progress = form;
        form->show();
        form->Label1->setText(QStringLiteral("Preparing..."));
    }
    void converting() override {
        if (ui().progress)
            ui().progress->Label1->setText(QStringLiteral("Converting..."));
    }
    void encodingStarted() override {
        if (ui().controls.Timer4)
            ui().controls.Timer4->start();
    }
    void finished() override {
        RenderControls& c = ui().controls;
        if (c.Timer4)
            c.Timer4->stop();
        if (c.wizard)
            c.wizard->setEnabled(true);
        delete ui().progress.data();
        if (c.wizard) {
            c.wizard->activateWindow();
            c.wizard->setFocus(Qt::OtherFocusReason);
        }
    }
};

RenderShaping chosenShaping() {
    const RenderUi& state = ui();
    RenderShaping shaping;
    const double seconds = state.fadeSeconds ? state.fadeSeconds->value() : 0.0;
    if (state.fadeIn && state.fadeIn->isChecked())
        shaping.fadeInSeconds = seconds;
    if (state.fadeOut && state.fadeOut->isChecked())
        shaping.fadeOutSeconds = seconds;
    shaping.evenLoudness = state.evenLoudness && state.evenLoudness->isChecked();
    return shaping;
}

} // namespace

void setRenderShapingControls(const RenderShapingControls& controls) {
    RenderUi& state = ui();
    state.fadeIn = controls.fadeIn;
    state.fadeOut = controls.fadeOut;
    state.fadeSeconds = controls.fadeSeconds;
    state.evenLoudness = controls.evenLoudness;
}

bool renderInProgress() {
    return ui().rendering;
}

std::optional<RingtoneFormat> chosenRingtoneFormat() {
    const RenderControls& c = ui().controls;
    if (c.Option1 && c.Option1->isChecked())
        return RingtoneFormat::Wav;
    if (c.Option2 && c.Option2->isChecked())
        return RingtoneFormat::Mp3;
    if (c.Option3 && c.Option3->isChecked())
        return RingtoneFormat::Ogg;
    return std::nullopt;
}

void setRenderControls(const RenderControls& controls) {
    RenderUi& state = ui();
    QObject::disconnect(state.tick);
    state.controls = controls;
    if (controls.Timer4) {
        controls.Timer4->stop();
        controls.Timer4->setInterval(500);
        state.tick = QObject::connect(controls.Timer4, &QTimer::timeout, &progressTick);
    }
}

bool RenderRingtone(const QString& outputPath, LinkPolicy outputLinks) {
    // The event-loop passes before the wizard is disabled could deliver a second click on a
    // delivery button; a render inside a render would share the temporary file and stream.
    if (ui().rendering)
        return false;
    ui().rendering = true;
    const auto done = qScopeGuard([] { ui().rendering = false; });
    const RenderControls& c = ui().controls;
    RenderChoices choices;
    choices.format = chosenRingtoneFormat();
    if (c.Combo2)
        choices.sampleRateText = c.Combo2->currentText();
    if (c.Combo3)
        choices.bitrateText = c.Combo3->currentText();
    choices.channelsIndex = c.Combo4 ? c.Combo4->currentIndex() : -1;
    choices.sectionIndex = c.Combo1 ? c.Combo1->currentIndex() : -1;
    choices.shaping = chosenShaping();

    RenderEditor editor;
    editor.setFormat = c.setEditorFormat;
    editor.save = c.saveEditorAudio;
    editor.outAudioFile = c.OutAudioFile;

    WindowObserver observer;
    const auto result = renderRingtone(outputPath, choices, editor, observer, outputLinks);
    if (!result.ok()) {
        if (!result.error().detail.isEmpty())
            qWarning("Render of %s failed: %s", qPrintable(outputPath),
                     qPrintable(result.error().detail));
        showMessage(QMessageBox::Warning, result.error().message);
        return false;
    }
    if (!result->note.isEmpty())
        showMessage(QMessageBox::Information, result->note);
    return true;
}

void setRenderMessageHandlerForTesting(
    std::function<void(QMessageBox::Icon icon, const QString& text)> handler) {
    ui().messageHandler = std::move(handler);
}

} // namespace chimora
