#pragma once
// An in-memory tree control: what the browser's logic sees of the real one,
// with the selection set by the test and reads counted.
#include <list>
#include <string>
#include <vector>

#include "browse/BrowseTree.h"

class FakeTree : public TreeControl {
public:
    struct Node {
        std::wstring text;
        int image = -1;
        int selectedImage = -1;
        uint32_t data = 0;
        Node* parent = nullptr;
        std::vector<Node*> children;
        int expandCount = 0;
    };

    HTREEITEM InsertItem(const std::wstring& text, int image, int selectedImage, HTREEITEM parent) override {
        Node& n = m_nodes.emplace_back();
        n.text = text;
        n.image = image;
        n.selectedImage = selectedImage;
        n.parent = N(parent);
        (n.parent ? n.parent->children : m_top).push_back(&n);
        return H(&n);
    }
    BOOL SetItemData(HTREEITEM item, uint32_t data) override { N(item)->data = data; return TRUE; }
    uint32_t GetItemData(HTREEITEM item) const override { return N(item)->data; }
    std::wstring GetItemText(HTREEITEM item) const override { return N(item)->text; }
    HTREEITEM GetParentItem(HTREEITEM item) const override { return H(N(item)->parent); }
    HTREEITEM GetSelectedItem() const override { return m_selected; }
    BOOL ItemHasChildren(HTREEITEM item) const override { return !N(item)->children.empty(); }
    int GetChildCount(HTREEITEM item) const override { return static_cast<int>(N(item)->children.size()); }
    HTREEITEM GetChildItem(HTREEITEM item, int index) const override {
        const auto& c = N(item)->children;
        return index >= 0 && index < static_cast<int>(c.size()) ? H(c[static_cast<size_t>(index)]) : nullptr;
    }
    BOOL SortChildren(HTREEITEM parent) override {
        SortItemsByText(Children(parent), [](const Node* n) { return n->text; });
        return TRUE;
    }
    BOOL SortChildrenCB(HTREEITEM parent, PFNTVCOMPARE compare, intptr_t param) override {
        SortItemsByData(Children(parent), compare, param, [](const Node* n) { return n->data; });
        return TRUE;
    }
    BOOL Expand(HTREEITEM item) override { ++N(item)->expandCount; return TRUE; }

    void Select(HTREEITEM item) { m_selected = item; }

    // The first item below `parent` (null: top level) with this text.
    HTREEITEM Find(HTREEITEM parent, const std::wstring& text) {
        for (Node* n : Children(parent))
            if (n->text == text) return H(n);
        return nullptr;
    }
    std::vector<std::wstring> Texts(HTREEITEM parent) {
        std::vector<std::wstring> out;
        for (Node* n : Children(parent)) out.push_back(n->text);
        return out;
    }
    const Node& Item(HTREEITEM item) const { return *N(item); }
    size_t Count() const { return m_nodes.size(); }

private:
    static Node* N(HTREEITEM h) { return reinterpret_cast<Node*>(h); }
    static HTREEITEM H(Node* n) { return reinterpret_cast<HTREEITEM>(n); }
    std::vector<Node*>& Children(HTREEITEM parent) { return parent ? N(parent)->children : m_top; }

    std::list<Node> m_nodes;
    std::vector<Node*> m_top;
    HTREEITEM m_selected = nullptr;
};
