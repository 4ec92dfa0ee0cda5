// The threat list on the list-view control: rows written with the list's item calls.
#pragma once

#include "detect/ThreatRows.h"
#include "ui/Window.h"

namespace detect {

class ListViewThreatList : public ThreatList {
public:
    explicit ListViewThreatList(const ui::ListCtrl& list) : list_(list) {}

    int Find(const std::string& path) override { return list_.FindItem(path); }
    int Insert(const Row& row) override;
    void Update(int index, const Row& row) override;
    void Clear() override { list_.DeleteAllItems(); }
    void Remove(int index) override { list_.DeleteItem(index); }
    void BeginUpdate() override;
    void EndUpdate() override;

private:
    void WriteTexts(int index, const Row& row) const;

    const ui::ListCtrl& list_;
};

} // namespace detect
