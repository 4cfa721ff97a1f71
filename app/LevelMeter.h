// The input level while recording: a slim bar from -60 dBFS to full scale with the peak written in
// dBFS beside it, and a clip mark that lights when the input reaches the end of the 16-bit range and
// stays lit a moment so that a single clipped peak is not missed.
#pragma once

#include <QWidget>

#include <chrono>

namespace velmar {

class CLevelMeter : public QWidget {
    Q_OBJECT

public:
    // The bar's lower end; anything quieter shows as an empty bar.
    static constexpr double kFloorDbfs = -60.0;
    // How long the clip mark stays lit after the last clipped peak.
    static constexpr std::chrono::milliseconds kClipHold{1500};

    explicit CLevelMeter(QWidget* parent = nullptr);

    // Shows `peak`, the largest sample magnitude (0 .. 32768) since the last one.
    void ShowPeak(int peak);
    // Back to silence with the clip mark off, for a new recording.
    void Reset();

    double PeakDbfs() const { return peakDbfs; }
    bool ClipShown() const;
    // The text beside the bar ("-12.5 dBFS", "-inf dBFS").
    QString LevelText() const;
    // The share of the bar lit, 0 .. 1.
    double BarFraction() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double peakDbfs;
    std::chrono::steady_clock::time_point clipUntil{};
};

} // namespace velmar
