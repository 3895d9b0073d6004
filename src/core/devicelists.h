#pragma once

#include <QVariantList>

// The two lists of output devices that the window offers (the devices captured in server
// mode, and those played into in player mode), and why they are empty when they are.
class DeviceLists
{
public:
    // What the sound system said when the lists were read; the numbers are what the window
    // reads.
    enum State
    {
        Listed = 0,       // it has output devices
        NoDevices = 1,    // it answers but has none
        NoSoundSystem = 2 // it cannot be reached
    };
    // Which of the three differ from what was there before.
    struct Changes
    {
        bool audio = false;
        bool output = false;
        bool state = false;
    };

    // Reads both lists from the sound system again.
    Changes reload();

    QVariantList audio() const { return audioList; }
    QVariantList output() const { return outputList; }
    int state() const { return currentState; }

private:
    QVariantList audioList;
    QVariantList outputList;
    int currentState = Listed;
};
