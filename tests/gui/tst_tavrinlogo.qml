import QtQuick 2.6
import QtTest 1.1
import "qrc:/installator/qml"

// The product logo, read from a file beside the executable: drawn when the
// file is there, nothing drawn and no size taken from it when it is not.
// The build puts productLogo.png next to this test's executable.
Rectangle {
    id: scene
    width: 300
    height: 100
    color: "#171618"

    // Stands in for the controller: the folder of this test's executable,
    // and the logo file name the current row asks for.
    QtObject {
        id: installator

        property string logoFile: ""

        function applicationPath() {
            var program = Qt.application.arguments[0];
            return program.substring(0, program.lastIndexOf("/"));
        }

        function getText(key) {
            return key === "productLogoUrl" ? logoFile : key;
        }
    }

    Component {
        id: logoComponent
        TavrinLogo {
            x: 20
            y: 20
        }
    }

    TestCase {
        id: testCase
        name: "TavrinLogo"
        when: windowShown

        readonly property int logoHeight: 15
        // The staged logo's natural size.
        readonly property size naturalSize: Qt.size(143, 24)
        // The width the success page gives the logo.
        readonly property int setWidth: 110

        function hasInk(image, logo) {
            for (var y = logo.y; y < logo.y + logo.height; ++y) {
                for (var x = logo.x; x < logo.x + Math.max(logo.width, setWidth); ++x) {
                    var p = image.pixel(x, y);
                    if (Math.abs(p.r - scene.color.r) > 0.1 || Math.abs(p.g - scene.color.g) > 0.1
                            || Math.abs(p.b - scene.color.b) > 0.1) {
                        return true;
                    }
                }
            }
            return false;
        }

        function test_logo_data() {
            return [{
                        "tag": "found, natural width",
                        "file": "productLogo.png",
                        "properties": {},
                        "status": Image.Ready,
                        "width": logoHeight * naturalSize.width / naturalSize.height
                    }, {
                        "tag": "found, width set",
                        "file": "productLogo.png",
                        "properties": {
                            "width": setWidth
                        },
                        "status": Image.Ready,
                        "width": setWidth
                    }, {
                        "tag": "missing, natural width",
                        "file": "missingLogo.png",
                        "properties": {},
                        "status": Image.Error,
                        "width": 0
                    }, {
                        "tag": "missing, width set",
                        "file": "missingLogo.png",
                        "properties": {
                            "width": setWidth
                        },
                        "status": Image.Error,
                        "width": setWidth
                    }];
        }

        function test_logo(data) {
            installator.logoFile = data.file;
            if (data.status === Image.Error) {
                ignoreWarning(new RegExp("Cannot open: file:///.*/" + data.file + "$"));
            }
            var logo = createTemporaryObject(logoComponent, scene, data.properties);
            verify(logo);
            tryCompare(logo, "status", data.status);
            // A local file beside the executable, named by the text copy.
            var source = logo.source.toString();
            compare(source.substring(0, 8), "file:///");
            compare(source.substring(source.length - data.file.length - 1), "/" + data.file);

            // The page's size for it holds whether or not the file is there.
            compare(logo.height, logoHeight);
            fuzzyCompare(logo.width, data.width, 0.5);

            waitForRendering(logo);
            compare(hasInk(grabImage(scene), logo), data.status === Image.Ready);
        }
    }
}
