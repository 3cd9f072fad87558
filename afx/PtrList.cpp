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

void*& CPtrList::GetNext(POSITION& rPosition) const
{
    Node* node = NodeOf(rPosition);
    rPosition = PositionOf(node->pNext);
    return node->data;
}

void*& CPtrList::GetAt(POSITION position) const
{
    return NodeOf(position)->data;
}

