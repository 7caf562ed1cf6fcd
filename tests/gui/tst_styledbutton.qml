import QtQuick 2.6
import QtTest 1.1
import "qrc:/installator/qml"

// The pill button as pages show it: the gradient image or the solid
// background, lightened while the pointer is over it, the same when pressed.
Rectangle {
    id: scene
    width: 400
    height: 200
    // The window's background colour behind the pages' buttons.
    color: "#171618"

    // The components resolve these names from the scene they are created in.
    FontLoader {
        id: robotoFont
        source: "qrc:/installator/Resources/Roboto-Regular.ttf"
    }
    FontLoader {
        id: robotoMediumFont
        source: "qrc:/installator/Resources/Roboto-Medium.ttf"
    }
    // The window's tracker: whether the person is using the keyboard.
    QtObject {
        id: focusTracker
        property bool keyboardNavigation: false
    }

    Component {
        id: buttonComponent
        StyledButton {
            x: 20
            y: 20
            text: "Continue"
        }
    }

    TestCase {
        id: testCase
        name: "StyledButton"
        when: windowShown

        readonly property color solidColour: "#514e53"
        readonly property string defaultImage: "qrc:/installator/Resources/button.svg"
        // How far a drawn colour channel may stray, on the 0 to 1 scale.
        readonly property real tolerance: 0.02
        // A point in the pill left of the label, and one outside its rounded
        // corner, in the button's coordinates.
        readonly property point pillPoint: Qt.point(14, 22)
        readonly property point cornerPoint: Qt.point(1, 1)
        // The hover overlay: white at alpha 17 of 255.
        readonly property real overlayAlpha: 17 / 255

        function near(a, b) {
            return Math.abs(a.r - b.r) <= tolerance && Math.abs(a.g - b.g) <= tolerance
                    && Math.abs(a.b - b.b) <= tolerance;
        }

        function createButton(properties) {
            var button = createTemporaryObject(buttonComponent, scene, properties);
            verify(button);
            waitForRendering(button);
            return button;
        }

        // The scene's pixel under a point of the button.
        function pixelAt(button, point) {
            var image = grabImage(scene);
            return image.pixel(button.x + point.x, button.y + point.y);
        }

        function test_focusRing_data() {
            return [{"tag": "focused, keys in use", "focused": true, "keys": true, "ring": true},
                    {"tag": "focused, pointer in use", "focused": true, "keys": false, "ring": false},
                    {"tag": "not focused, keys in use", "focused": false, "keys": true, "ring": false}];
        }

        function test_focusRing(data) {
            var button = createButton({});
            if (data.focused) {
                button.forceActiveFocus();
            }
            focusTracker.keyboardNavigation = data.keys;
            compare(findChild(button, "focusRing").visible, data.ring);
            focusTracker.keyboardNavigation = false;
        }

        function test_keysPress_data() {
            return [{"tag": "Return", "key": Qt.Key_Return}, {"tag": "Enter", "key": Qt.Key_Enter},
                    {"tag": "Space", "key": Qt.Key_Space}];
        }

        function test_keysPress(data) {
            var button = createButton({});
            var clicks = 0;
            button.clicked.connect(function () { clicks += 1; });
            button.forceActiveFocus();
            keyClick(data.key);
            compare(clicks, 1);
        }

        function test_size() {
            var button = createButton({});
            compare(button.width, 164);
            compare(button.height, 45);
            var label = findChild(button, "buttonLabel");
            verify(label);
            compare(label.text, "Continue");
            compare(label.font.pixelSize, 15);
            compare(label.font.family, robotoMediumFont.name);
        }

        function test_background_data() {
            return [{
                        "tag": "solid",
                        "properties": {
                            "backgroundImage": ""
                        },
                        "solid": true
                    }, {
                        "tag": "default image",
                        "properties": {},
                        "solid": false
                    }];
        }

        function test_background(data) {
            var button = createButton(data.properties);
            compare(button.backgroundImage, data.solid ? "" : defaultImage);
            var pill = pixelAt(button, pillPoint);
            compare(near(pill, solidColour), data.solid, "pill colour " + pill);
            if (!data.solid) {
                // The gradient's blue-violet end, drawn over nothing: no
                // trace of the solid colour mixes in.
                verify(pill.b > pill.g + 0.15, "gradient colour " + pill);
            }
            // Outside the rounded corner the scene shows through.
            verify(near(pixelAt(button, cornerPoint), scene.color), "corner");
        }

        function test_hoverAndPress_data() {
            return test_background_data();
        }

        function test_hoverAndPress(data) {
            var button = createButton(data.properties);
            var resting = pixelAt(button, pillPoint);

            mouseMove(button, pillPoint.x, pillPoint.y);
            tryCompare(button, "hovered", true);
            waitForRendering(button);
            var hovered = pixelAt(button, pillPoint);
            // Each channel moves towards white by the overlay's alpha.
            var expected = Qt.rgba(resting.r + (1 - resting.r) * overlayAlpha,
                                   resting.g + (1 - resting.g) * overlayAlpha,
                                   resting.b + (1 - resting.b) * overlayAlpha, 1);
            verify(near(hovered, expected), "hovered " + hovered + ", expected " + expected);

            var hoveredImage = grabImage(button);
            mousePress(button, pillPoint.x, pillPoint.y);
            verify(button.pressed);
            // Grabbing draws the scene as it stands, pressed.
            var pressedImage = grabImage(button);
            mouseRelease(button, pillPoint.x, pillPoint.y);
            verify(pressedImage.equals(hoveredImage), "pressing changed the look");

            mouseMove(scene, scene.width - 1, scene.height - 1);
            tryCompare(button, "hovered", false);
            waitForRendering(button);
            verify(near(pixelAt(button, pillPoint), resting), "hover left behind");
        }
    }
}
