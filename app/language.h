#pragma once
// Which translation of the text copy the wizard shows. A translation is a
// file beside the English one, Resources/text_copy.<code>.json with its
// changelog Resources/changelog.<code>.html, where <code> is a language
// ("de") or a language and region joined by an underscore ("zh_CN").

#include <QString>
#include <QStringList>

#include <functional>

namespace language {

// Set to a language tag ("de", "ja", "zh-CN", "en"), it replaces the
// system's preferred languages: how testers and support see one language.
extern const char kOverrideVariable[];

// The codes of the files that would serve this language tag, most specific
// first: "de-AT" gives "de_AT", "de"; "zh-Hans-CN", "zh-CN" and "zh" give
// "zh_CN", "zh". English ends the search: its plain code is "en".
QStringList fileCodes(const QString& tag);

// The preferred languages: the override variable's value when it is set,
// otherwise the system's list given.
QStringList preferred(const QStringList& systemLanguages);

// The code of the first file that hasFile accepts, trying each language in
// order; "" for the English file, also when an English tag comes first.
QString choose(const QStringList& languages, const std::function<bool(const QString&)>& hasFile);

// Makes the wizard's Roboto faces draw the characters they lack in the
// fonts that suit the language the code names (none for "" and the
// languages whose characters the system's fallback fonts draw right). Chinese
// and Japanese share characters whose shapes differ: without this, the
// system draws both in whichever of its fonts it lists first.
void useFallbackFamilies(const QString& code);

// The family the wizard draws all its text in for the language the code
// names, "" for Roboto. Chinese takes its own face throughout: Roboto has
// the quotation marks Chinese text uses (“ ”), and draws them in their narrow
// Latin shape. Needs the GUI application.
QString textFamily(const QString& code);

} // namespace language
