#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <numeric>
#include <vector>

namespace tarn {

// The order of the package list and of the task list: mandatory entries first, then by name, stable.
//
// Names compare by Unicode code point after canonical (NFC) normalisation, independent of the locale.
// QString's own comparison works on UTF-16 units, and that differs beyond the Basic Multilingual
// Plane: a character such as U+1F600 is stored as the surrogates D83D DE00, which sort below
// U+E000..U+FFFF as units although the code point is above them.

// Sorts `items` in place; `isMandatory(item)` and `nameOf(item)` read the two keys.
template <typename T, typename IsMandatory, typename NameOf>
void sortMandatoryFirstByName(QList<T>& items, IsMandatory isMandatory, NameOf nameOf) {
    struct Key {
        bool mandatory;
        QList<uint> codePoints;
    };
    // Normalise each name once rather than on every comparison.
    std::vector<Key> keys;
    keys.reserve(items.size());
    for (const auto& item : items) {
        keys.push_back({static_cast<bool>(isMandatory(item)),
                        QString(nameOf(item)).normalized(QString::NormalizationForm_C).toUcs4()});
    }
    std::vector<qsizetype> order(items.size());
    std::iota(order.begin(), order.end(), qsizetype{0});
    std::stable_sort(order.begin(), order.end(), [&keys](qsizetype left, qsizetype right) {
        const Key& a = keys[left];
        const Key& b = keys[right];
        if (a.mandatory != b.mandatory) {
            return a.mandatory;
        }
        return std::lexicographical_compare(a.codePoints.cbegin(), a.codePoints.cend(), b.codePoints.cbegin(),
                                            b.codePoints.cend());
    });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (const qsizetype index : order) {
        sorted.append(std::move(items[index]));
    }
    items = std::move(sorted);
}

} // namespace tarn
