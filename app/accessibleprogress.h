#pragma once
// Screen reader view of the wizard's progress ring: a progress bar with its
// minimum, maximum and current value. Qt Quick's own accessibility gives a
// progress bar no value at all, so a screen reader could not say how far the
// update has come.

class QQuickItem;

// Makes the screen reader view of ring (a ProgressBar with `value`,
// `minimumValue` and `maximumValue`) this one, in place of Qt Quick's, for
// the ring's lifetime. Name and description come from its Accessible.name and
// Accessible.description.
void exposeProgressBarValue(QQuickItem* ring);
