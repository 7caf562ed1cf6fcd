import QtQuick 2.5

// Shows exactly one of its child pages at a time. The children are
// LazyPages: the start builds the first page alone, and the others are built
// hidden just after it, before a person can move on; a page then lives for
// the rest of the run, and switching only hides and disables the others, so
// a page keeps its state between visits.
//
// A page is never built in the moment it is shown: building it names its
// items, and a screen reader takes the name given to the button that has
// just taken the focus as that button renamed. It says the button again and
// cuts short the page's title and texts it was saying (Orca 48 does).
Item {
    id: pageViewRoot

    // The name of the page shown first.
    property string initialPage
    property var currentPage

    default property alias content: pages.children

    // A screen reader counts the dialogs directly inside a window as further
    // windows waiting for the person; the pages are dialogs inside this pane.
    Accessible.role: Accessible.Pane

    // Properties are copied onto the matching page before it becomes
    // visible, so its bindings are current when it is first drawn.
    function showPageByName(name, properties) {
        internal.iterate(function (slot, i) {
            internal.enablePage(slot, i, slot.name === name, properties);
        });
    }

    function showPage(newPage) {
        internal.iterate(function (slot, i) {
            internal.enablePage(slot, i, slot.item !== null && slot.item === newPage);
        });
    }

    // Follows declaration order, not the wizard's flow, and wraps around.
    function nextPage() {
        var nextIndex = (currentPage.index + 1) % pages.children.length;
        internal.iterate(function (slot, i) {
            internal.enablePage(slot, i, i === nextIndex);
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

        function build(slot, index) {
            if (!slot.active) {
                slot.active = true;
                slot.item.pageView = pageViewRoot;
                slot.item.index = index;
            }
        }

        // The pages not built yet, hidden and disabled like every page not
        // shown.
        function buildHiddenPages() {
            iterate(function (slot, i) {
                if (!slot.active) {
                    build(slot, i);
                    slot.item.enabled = false;
                }
            });
        }

        // A page is visible whenever its slot is: showing the slot is what a
        // page sees as becoming visible (it logs and takes the focus).
        function enablePage(slot, index, isEnabled, properties) {
            if (!isEnabled) {
                // A hidden page must not take input either.
                slot.visible = false;
                if (slot.item) {
                    slot.item.enabled = false;
                }
                return;
            }
            build(slot, index);
            var page = slot.item;
            if (typeof properties === "object") {
                for (var prop in properties) {
                    page[prop] = properties[prop];
                }
            }
            page.enabled = true;
            slot.visible = true;
            if (pageViewRoot.currentPage !== page) {
                pageViewRoot.currentPage = page;
            }
        }
    }

    Component.onCompleted: {
        // Created in a visible slot, the first page sees no change of
        // visibility, as it never did: it takes the focus here.
        internal.iterate(function (slot, i) {
            if (slot.name === initialPage) {
                slot.visible = true;
            }
        });
        showPageByName(initialPage);
        if (currentPage) {
            currentPage.takeFocus();
        }
        // After the first page's start, so that it is not slowed down.
        Qt.callLater(internal.buildHiddenPages);
    }
}
