#pragma once

#include <QString>

class Wizard;

// Walks through the four pages as a user would, indexing source into destination, and
// saves each page as it looks into folder (1-welcome.png ... 4-run.png); then ends the
// wizard. For the documentation's screenshots.
void takeScreenshots(Wizard& wizard, const QString& folder, const QString& source, const QString& destination);
