import QtQuick 2.6
import QtTest 1.1

// The resource bundle carries all twelve Roboto faces, also the ten that no
// page loads: they are linked in a collection of their own.
TestCase {
    id: testCase
    name: "Bundle"

    Component {
        id: loaderComponent
        FontLoader {}
    }

    function test_face_data() {
        return ["Regular", "Medium", "Light", "Black", "Thin", "Italic", "Bold", "ThinItalic",
                "LightItalic", "MediumItalic", "BoldItalic", "BlackItalic"].map(function (face) {
            return { tag: face, face: face };
        });
    }

    function test_face(data) {
        var loader = createTemporaryObject(loaderComponent, testCase, {
            "source": "qrc:/installator/Resources/Roboto-" + data.face + ".ttf"
        });
        tryCompare(loader, "status", FontLoader.Ready);
        verify(loader.name.indexOf("Roboto") === 0, loader.name);
    }
}
