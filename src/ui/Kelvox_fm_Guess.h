#pragma once

#include "layout/LayoutGuess.h"

#include <QDialog>
#include <QImage>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class TKelvoxDataMgr;

namespace Ui {
class Tfm_Guess;
}

// "256 × 256 × 108, Int-16 (signed), Lil-Endian (Intel), header 0": a layout
// in the window's words (no byte order for one-byte types; the volumes when
// more than one).
QString layoutInWords(const VolumeLayout& layout);

// The middle slice of layout in the file dataMgr has open, rendered by the
// data manager with that slice's own value range as the window, scaled to fit
// 96 x 96. A large slice is read at the zoom 1:k that still gives the
// thumbnail all its pixels (a 10000 x 10000 slice: about 100 rows). A null image when the slice is beyond what the window can show.
QImage middleSliceThumbnail(TKelvoxDataMgr& dataMgr, const VolumeLayout& layout);

// The "Guess Layout" dialog: the best eight layouts the guesser proposes for
// a file, each with a thumbnail of its middle slice, the layout in words, the
// score as a bar and the reason. "Use" or a double-click accepts the selected
// candidate; "Cancel" rejects. It only proposes: applying the choice is the
// caller's.
class Tfm_Guess : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tfm_Guess)

public:
    // Guesses at once, under the busy cursor, for the file at filePath (a
    // file-system name). A file that cannot be read lists no candidates.
    explicit Tfm_Guess(const std::string& filePath, QWidget* parent = nullptr);
    // The same for the file dataMgr has open, read through its open stream
    // (a compressed file's unpacked bytes, with no second index pass).
    explicit Tfm_Guess(const TKelvoxDataMgr& dataMgr, QWidget* parent = nullptr);
    ~Tfm_Guess() override;

    const std::vector<LayoutCandidate>& candidates() const { return m_candidates; }
    // The candidate accepted; empty unless the dialog was accepted.
    std::optional<LayoutCandidate> chosen() const;

private:
    void wireEvents();
    void setUp();
    void fillRows(const std::string& filePath);
    void fillRows(TKelvoxDataMgr& thumbnails);
    void bt_UseClick();
    void useRow(int row);

    std::unique_ptr<Ui::Tfm_Guess> ui;
    std::vector<LayoutCandidate> m_candidates;
    std::optional<std::size_t> m_chosen;
};
