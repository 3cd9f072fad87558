// A doubly linked list of pointers whose nodes come from blocks of a chosen
// size, as the framework's CPtrList.
#pragma once
#include "Object.h"

struct AfxPosition;
typedef AfxPosition* POSITION;

class CPtrList : public CObject {
public:
    explicit CPtrList(int nBlockSize = 10);
    ~CPtrList() override;

    int GetCount() const { return m_nCount; }
    BOOL IsEmpty() const { return m_nCount == 0; }

    POSITION AddTail(void* newElement);
    void RemoveAll();

    POSITION GetHeadPosition() const;
    // Returns the element at position and moves position to the next one
    // (null after the tail).
    void*& GetNext(POSITION& rPosition) const;
    void*& GetAt(POSITION position) const;

private:
    struct Node {
        Node* pNext;
        Node* pPrev;
        void* data;
    };
    struct Block {
        Block* pNext;
        // nodes follow
    };

    Node* NewNode(Node* pPrev, Node* pNext);
    static Node* NodeOf(POSITION position) { return reinterpret_cast<Node*>(position); }
    static POSITION PositionOf(Node* pNode) { return reinterpret_cast<POSITION>(pNode); }

    Node* m_pNodeHead { nullptr };
    Node* m_pNodeTail { nullptr };
    Node* m_pNodeFree { nullptr };
    Block* m_pBlocks { nullptr };
    int m_nCount { 0 };
    int m_nBlockSize;
};
