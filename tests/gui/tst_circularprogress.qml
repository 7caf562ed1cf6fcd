import QtQuick 2.6
import QtTest 1.1
import "qrc:/installator/qml"

// The progress ring as pages show it: 164 px across, 5 px line width, the
// fill growing clockwise from twelve o'clock, with or without the percent
// label.
Item {
    id: scene
    width: 300
    height: 300

    // The components resolve these names from the scene they are created in.
    FontLoader {
        id: robotoFont
        source: "qrc:/installator/Resources/Roboto-Regular.ttf"
    }
    FontLoader {
        id: robotoMediumFont
        source: "qrc:/installator/Resources/Roboto-Medium.ttf"
    }
    QtObject {
        id: settings
        property real contentMargin: 40
        property real pageSideMargin: 165
        property int circularProgressLineWidth: 5
        property int circularProgressSize: 164
        property bool debugMode: false
    }

    Component {
        id: ringComponent
        CircularProgress {
            lineWidth: settings.circularProgressLineWidth
        }
    }

    TestCase {
        id: testCase
        name: "CircularProgress"
        when: windowShown

        readonly property color clearColor: "#191821"
        // Middle of the visible band: between the inner disc (radius 82 - 5) and
        // the face's edge (radius 82 - 1).
        readonly property real bandRadius: 79

        function isClear(pixel) {
            return Math.abs(pixel.r - clearColor.r) < 0.04 && Math.abs(pixel.g - clearColor.g) < 0.04
                    && Math.abs(pixel.b - clearColor.b) < 0.04;
        }

        // The band's pixel at a fraction of a full turn, clockwise from the top.
        function bandPixel(image, ring, turn) {
            var angle = 2 * Math.PI * turn;
            var x = Math.round(ring.width / 2 + bandRadius * Math.sin(angle));
            var y = Math.round(ring.height / 2 - bandRadius * Math.cos(angle));
            return image.pixel(x, y);
        }

        // True when some pixel of the disc's middle is nearly white (label ink).
        function hasLabelInk(image, ring) {
            for (var y = ring.height / 2 - 30; y < ring.height / 2 + 30; y += 2) {
                for (var x = ring.width / 2 - 40; x < ring.width / 2 + 40; x += 2) {
                    var p = image.pixel(x, y);
                    if (p.r > 0.8 && p.g > 0.8 && p.b > 0.8) {
                        return true;
                    }
                }
            }
            return false;
        }

        function createRing(value, labelVisible) {
            var ring = createTemporaryObject(ringComponent, scene, {
                                                 "value": value,
                                                 "textProgressVisible": labelVisible
                                             });
            verify(ring);
            waitForRendering(ring);
            return ring;
        }

        function test_ring_data() {
            // filled/clear: fractions of a turn expected inside and beyond the arc.
            return [{
                        "tag": "empty, labelled",
                        "value": 0,
                        "label": true,
                        "text": "0",
                        "filled": [],
                        "clear": [0.02, 0.25, 0.5, 0.75, 0.98]
                    }, {
                        "tag": "empty, unlabelled",
                        "value": 0,
                        "label": false,
                        "text": "0",
                        "filled": [],
                        "clear": [0.02, 0.25, 0.5, 0.75, 0.98]
                    }, {
                        "tag": "57 %, labelled",
                        "value": 0.57,
                        "label": true,
                        "text": "57",
                        "filled": [0.05, 0.25, 0.5, 0.55],
                        "clear": [0.6, 0.75, 0.95]
                    }, {
                        "tag": "57 %, unlabelled",
                        "value": 0.57,
                        "label": false,
                        "text": "57",
                        "filled": [0.05, 0.25, 0.5, 0.55],
                        "clear": [0.6, 0.75, 0.95]
                    }, {
                        "tag": "full, labelled",
                        "value": 1.0,
                        "label": true,
                        "text": "100",
                        "filled": [0.02, 0.25, 0.5, 0.75, 0.98],
                        "clear": []
                    }, {
                        "tag": "full, unlabelled",
                        "value": 1.0,
                        "label": false,
                        "text": "100",
                        "filled": [0.02, 0.25, 0.5, 0.75, 0.98],
                        "clear": []
                    }];
        }

        function test_ring(data) {
            var ring = createRing(data.value, data.label);
            compare(ring.width, settings.circularProgressSize);
            compare(ring.height, settings.circularProgressSize);

            var label = findChild(ring, "percentLabel");
            verify(label);
            compare(label.text, data.text);
            compare(label.visible, data.label);
            var sign = findChild(ring, "percentSign");
            verify(sign);
            compare(sign.text, "%");
            compare(sign.visible, data.label);

            var image = grabImage(ring);
            for (var i = 0; i < data.filled.length; ++i) {
                verify(!isClear(bandPixel(image, ring, data.filled[i])),
                       "ring filled at " + data.filled[i] + " of a turn");
            }
            for (var j = 0; j < data.clear.length; ++j) {
                verify(isClear(bandPixel(image, ring, data.clear[j])),
                       "ring clear at " + data.clear[j] + " of a turn");
            }
            // Inside the band the inner disc always shows the clear colour.
            verify(isClear(image.pixel(ring.width / 2, ring.height / 2 + 60)));
            compare(hasLabelInk(image, ring), data.label);
        }

        // The fill follows the accent gradient: blue towards the lower left, red
        // towards the upper right.
        function test_fullRingColours() {
            var ring = createRing(1.0, false);
            var image = grabImage(ring);
            var lowerLeft = bandPixel(image, ring, 0.625);
            var upperRight = bandPixel(image, ring, 0.125);
            verify(lowerLeft.b > lowerLeft.r, "blue at the lower left: " + lowerLeft);
            verify(upperRight.r > upperRight.b, "red at the upper right: " + upperRight);
        }

        // Values between whole percents round to the nearest one, halves upward.
        function test_labelRounding_data() {
            return [{
                        "tag": "0.01",
                        "value": 0.01,
                        "text": "1"
                    }, {
                        "tag": "0.004",
                        "value": 0.004,
                        "text": "0"
                    }, {
                        "tag": "0.125",
                        "value": 0.125,
                        "text": "13"
                    }, {
                        "tag": "0.995",
                        "value": 0.995,
                        "text": "100"
                    }];
        }

        function test_labelRounding(data) {
            var ring = createTemporaryObject(ringComponent, scene, {
                                                 "value": data.value
                                             });
            compare(findChild(ring, "percentLabel").text, data.text);
        }
    }
}
