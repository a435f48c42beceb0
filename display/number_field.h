#pragma once
// Line edits that show numbers in the general format with six significant
// digits ("-0.0171481", "1.23457e+06", "-1.23457e-308") must show all of the
// text: a right-aligned field too narrow for it scrolls its start (the sign,
// the leading digits) out of sight.
class QLineEdit;
class QString;

// Width a line edit needs to show text whole, in its own font and style.
int lineEditWidthFor(const QLineEdit *e, const QString &text);

// Makes the field as wide as a number of that format with a two-digit
// exponent needs (or as the given typical text), and wider whenever a
// longer text is set, so that any value fits.
void fitNumberField(QLineEdit *e);
void fitNumberField(QLineEdit *e, const QString &typical);

// Whether the field, as last painted, shows its whole text: nothing scrolled
// out of its visible part.
bool showsWholeText(const QLineEdit *e);
