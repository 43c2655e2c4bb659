#pragma once

#include <QByteArray>

// FreeImage's Photoshop reader trusts the run-length data of the merged picture: a
// run that reaches past the end of its row, or a row whose bytes go on after it is
// full, makes it copy a negative number of bytes and the whole program dies. Before a PSD/PSB file
// goes to it, its sections and every row's compressed data are walked here; a file whose data do
// not add up is refused as damaged. Files that cannot be read answer false as well.
[[nodiscard]] bool PsdDataIsSound(const QByteArray& path);
