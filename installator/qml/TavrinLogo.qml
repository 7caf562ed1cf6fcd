import QtQuick 2.0

// The product logo, a file beside the executable named by the text copy,
// so that it can change without rebuilding the program.
Image {
    id: logoRoot

    // A local-file URL for <application folder>/<logo file>. Each path
    // segment is percent-encoded so that characters such as '#' or '?' in a
    // folder name stay part of the path. A drive-letter path ("C:/...")
    // needs a third slash; a path that begins with "/" already has it.
    function localFileUrl(path) {
        var segments = path.split("/");
        for (var i = 0; i < segments.length; ++i) {
            if (!(i === 0 && /^[A-Za-z]:$/.test(segments[i]))) {
                segments[i] = encodeURIComponent(segments[i]);
            }
        }
        var encoded = segments.join("/");
        return (encoded.charAt(0) === "/" ? "file://" : "file:///") + encoded;
    }

    source: localFileUrl(installator.applicationPath() + "/" + installator.getText("productLogoUrl"))
    height: 15
    Accessible.role: Accessible.Graphic
    Accessible.name: installator.getText("productName")
    fillMode: Image.PreserveAspectFit
}
