import QtQuick 2.5

// What is wrong with the firmware file beside the program, found at start,
// and what to do about it; empty and hidden while the file is good.
RegularText {
    readonly property int code: installator.firmwareFileCode()
    // Why, and what to do, in the person's language. The check's own English
    // words, which the log keeps, show only for an outcome the text copy has
    // no reason for, followed by the advice the error page would give.
    readonly property string reasonKey: "firmwareFileReason" + code
    readonly property string adviceKey: "errorAdvice" + code
    readonly property string reason: {
        if (installator.hasText(reasonKey)) {
            return installator.getText(reasonKey);
        }
        return installator.firmwareFileProblem() + (installator.hasText(adviceKey)
                                                    ? "\n" + installator.getText(adviceKey) : "");
    }

    visible: code !== 0
    // The page speaks the person's language; the log keeps the check's own
    // words for support.
    Component.onCompleted: {
        if (code !== 0) {
            console.log("Firmware file check:", code, installator.firmwareFileProblem());
        }
    }
    text: code === 0 ? "" : installator.getText("firmwareProblemText").arg(code) + "\n" + reason
}
