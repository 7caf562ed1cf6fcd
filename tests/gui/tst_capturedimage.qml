import QtQuick 2.6
import QtTest 1.1
import "qrc:/installator/qml"

// A picture above a one-line caption, as the accessories page shows three of
// them.
Item {
    id: scene
    width: 400
    height: 200

    // The components resolve these names from the scene they are created in.
    FontLoader {
        id: robotoFont
        source: "qrc:/installator/Resources/Roboto-Regular.ttf"
    }

    Component {
        id: cellComponent
        CapturedImage {
            x: 120
            y: 20
            source: "qrc:/installator/Resources/group-7.svg"
            sourceSize: Qt.size(165, 33)
        }
    }

    TestCase {
        id: testCase
        name: "CapturedImage"
        when: windowShown

        readonly property int cellWidth: 160
        readonly property int cellHeight: 136
        readonly property int captionHeight: 24

        function test_caption_data() {
            return [{
                        "tag": "short",
                        "text": "A computer",
                        "overhangs": false
                    }, {
                        "tag": "wider than the cell",
                        "text": "A cable with a USB-C plug at one end and a USB-A plug at the other",
                        "overhangs": true
                    }];
        }

        function test_caption(data) {
            var cell = createTemporaryObject(cellComponent, scene, {
                                                 "text": data.text
                                             });
            verify(cell);
            compare(cell.width, cellWidth);
            compare(cell.height, cellHeight);

            var caption = findChild(cell, "caption");
            verify(caption);
            compare(caption.text, data.text);
            // One line, as wide as its text, at the cell's bottom.
            compare(caption.lineCount, 1);
            compare(caption.width, caption.implicitWidth);
            compare(caption.height, captionHeight);
            compare(caption.y + caption.height, cellHeight);
            // Centred under the picture, whatever its width.
            fuzzyCompare(caption.x + caption.width / 2, cellWidth / 2, 0.5);
            compare(caption.x < 0 && caption.x + caption.width > cellWidth, data.overhangs);
        }
    }
}
