#include "PtrList.h"

#include <new>

CPtrList::CPtrList(int nBlockSize)
    : m_nBlockSize(nBlockSize > 0 ? nBlockSize : 10)
{
}

CPtrList::~CPtrList()
{
    RemoveAll();
}

CPtrList::Node* CPtrList::NewNode(Node* pPrev, Node* pNext)
{
    if (!m_pNodeFree) {
        // One allocation gives a whole block of free nodes.
        size_t bytes = sizeof(Block) + sizeof(Node) * static_cast<size_t>(m_nBlockSize);
        auto* block = static_cast<Block*>(::operator new(bytes, std::nothrow));
        if (!block)
            return nullptr;
        block->pNext = m_pBlocks;
        m_pBlocks = block;
        Node* nodes = reinterpret_cast<Node*>(block + 1);
        for (int i = m_nBlockSize - 1; i >= 0; --i) {
            nodes[i].pNext = m_pNodeFree;
            m_pNodeFree = &nodes[i];
        }
    }
    Node* node = m_pNodeFree;
    m_pNodeFree = node->pNext;
    node->pPrev = pPrev;
    node->pNext = pNext;
    node->data = nullptr;
    ++m_nCount;
    return node;
}

void CPtrList::FreeNode(Node* pNode)
{
    pNode->pNext = m_pNodeFree;
    m_pNodeFree = pNode;
    if (--m_nCount == 0)
        RemoveAll();
}

POSITION CPtrList::AddHead(void* newElement)
{
    Node* node = NewNode(nullptr, m_pNodeHead);
    if (!node)
        return nullptr;
    node->data = newElement;
    if (m_pNodeHead)
        m_pNodeHead->pPrev = node;
    else
        m_pNodeTail = node;
    m_pNodeHead = node;
    return PositionOf(node);
}

POSITION CPtrList::AddTail(void* newElement)
{
    Node* node = NewNode(m_pNodeTail, nullptr);
    if (!node)
        return nullptr;
    node->data = newElement;
    if (m_pNodeTail)
        m_pNodeTail->pNext = node;
    else
        m_pNodeHead = node;
    m_pNodeTail = node;
    return PositionOf(node);
}

void* CPtrList::RemoveHead()
{
    if (!m_pNodeHead)
        return nullptr;
    Node* old = m_pNodeHead;
    void* data = old->data;
    m_pNodeHead = old->pNext;
    if (m_pNodeHead)
        m_pNodeHead->pPrev = nullptr;
    else
        m_pNodeTail = nullptr;
    FreeNode(old);
    return data;
}

void* CPtrList::RemoveTail()
{
    if (!m_pNodeTail)
        return nullptr;
    Node* old = m_pNodeTail;
    void* data = old->data;
    m_pNodeTail = old->pPrev;
    if (m_pNodeTail)
        m_pNodeTail->pNext = nullptr;
    else
        m_pNodeHead = nullptr;
    FreeNode(old);
    return data;
}

void CPtrList::RemoveAt(POSITION position)
{
    Node* node = NodeOf(position);
    if (!node)
        return;
    if (node == m_pNodeHead)
        m_pNodeHead = node->pNext;
    else
        node->pPrev->pNext = node->pNext;
    if (node == m_pNodeTail)
        m_pNodeTail = node->pPrev;
    else
        node->pNext->pPrev = node->pPrev;
    FreeNode(node);
}

void CPtrList::RemoveAll()
{
    m_pNodeHead = m_pNodeTail = m_pNodeFree = nullptr;
    m_nCount = 0;
    while (m_pBlocks) {
        Block* next = m_pBlocks->pNext;
        ::operator delete(m_pBlocks);
        m_pBlocks = next;
    }
}

POSITION CPtrList::GetHeadPosition() const
{
    return PositionOf(m_pNodeHead);
}

POSITION CPtrList::GetTailPosition() const
{
    return PositionOf(m_pNodeTail);
}

void*& CPtrList::GetNext(POSITION& rPosition) const
{
    Node* node = NodeOf(rPosition);
    rPosition = PositionOf(node->pNext);
    return node->data;
}

void*& CPtrList::GetPrev(POSITION& rPosition) const
{
    Node* node = NodeOf(rPosition);
    rPosition = PositionOf(node->pPrev);
    return node->data;
}

void*& CPtrList::GetAt(POSITION position) const
{
    return NodeOf(position)->data;
}

void CPtrList::SetAt(POSITION position, void* newElement)
{
    NodeOf(position)->data = newElement;
}

POSITION CPtrList::Find(void* searchValue, POSITION startAfter) const
{
    Node* node = startAfter ? NodeOf(startAfter)->pNext : m_pNodeHead;
    for (; node; node = node->pNext)
        if (node->data == searchValue)
            return PositionOf(node);
    return nullptr;
}
