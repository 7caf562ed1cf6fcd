import QtQuick 2.5

// Shows exactly one of its child pages at a time. Every page lives for the
// whole run; switching only hides and disables the others, so a page keeps
// its state between visits.
Item {
    id: pageViewRoot

    property var initialPage
    property var currentPage

    default property alias content: pages.children

    // A screen reader counts the dialogs directly inside a window as further
    // windows waiting for the person; the pages are dialogs inside this pane.
    Accessible.role: Accessible.Pane

    // Properties are copied onto the matching page before it becomes
    // visible, so its bindings are current when it is first drawn.
    function showPageByName(name, properties) {
        internal.iterate(function (page, i) {
            if (page.name === name) {
                internal.enablePage(page, true, properties);
            } else {
                internal.enablePage(page, false);
            }
        });
    }

    function showPage(newPage) {
        internal.iterate(function (page, i) {
            internal.enablePage(page, page === newPage);
        });
    }

    // Follows declaration order, not the wizard's flow, and wraps around.
    function nextPage() {
        var nextIndex = (currentPage.index + 1) % pages.children.length;
        internal.iterate(function (page, i) {
            internal.enablePage(page, page.index === nextIndex);
        });
    }

    Item {
        id: pages
        anchors.fill: parent
    }

    Item {
        id: internal

        function iterate(fun) {
            for (var i = 0; i < pages.children.length; ++i) {
                fun(pages.children[i], i);
            }
        }

        function enablePage(page, isEnabled, properties) {
            if (typeof properties === "object") {
                for (var prop in properties) {
                    page[prop] = properties[prop];
                }
            }
            // A hidden page must not take input either.
            page.enabled = isEnabled;
            page.visible = isEnabled;
            if (isEnabled) {
                pageViewRoot.currentPage = page;
            }
        }

        function init(initialPage) {
            iterate(function (page, i) {
                page.pageView = pageViewRoot;
                page.index = i;
                enablePage(page, page === initialPage);
            });
            // Visible from the start, it sees no change of visibility.
            if (initialPage) {
                initialPage.takeFocus();
            }
        }
    }

    Component.onCompleted: internal.init(initialPage)
}
