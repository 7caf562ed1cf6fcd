import QtQuick 2.5

// What is wrong with the firmware file beside the program, found at start,
// and what to do about it; empty and hidden while the file is good.
RegularText {
    readonly property int code: installator.firmwareFileCode()
    readonly property string advice: installator.hasText("errorAdvice" + code)
                                     ? installator.getText("errorAdvice" + code) : ""

    visible: code !== 0
    text: code === 0 ? "" : installator.getText("firmwareProblemText").arg(code)
                            + "\n" + installator.firmwareFileProblem()
                            + (advice !== "" ? "\n" + advice : "")
}
