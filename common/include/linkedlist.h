#ifndef NORVA_LINKEDLIST_H
#define NORVA_LINKEDLIST_H

/*
 * Intrusive, circular, doubly linked list with an element count. Records embed a Cell_T so that adding and
 * removing never allocates; cells for foreign objects can also be allocated by the list itself
 * (List_pushBackObject, List_initPool). No operation logs.
 */

#include "qor_errors.h"
#include "qor_types.h"

struct LinkedList_T;

typedef struct Cell_T {
    /** The element the cell stands for; for an embedded cell, the record that contains it. */
    void *object;
    struct Cell_T *pNext;
    struct Cell_T *pPrev;
    /** The list the cell is in; null when the cell is in no list. */
    struct LinkedList_T *pContainer;
} Cell_T;

typedef struct LinkedList_T {
    /** Closes the ring: pNext is the first cell and pPrev the last (the anchor itself when empty). */
    Cell_T sAnchor;
    QOR_UINT32 ui32Elements;
} LinkedList_T;

/** Builds an object for List_initPool from its parameter. */
typedef void *(*List_pfnConstructor)(void *param);
/** Frees an object for List_clearObjects and List_removeObject. */
typedef void (*List_pfnDestructor)(void *object);
/** Visits one object; the walk goes on only while it returns exactly QOR_TRUE (1). */
typedef QOR_BOOL8 (*List_pfnVisitor)(void *object, void *param);

#ifdef __cplusplus
extern "C" {
#endif

QOR_RESULT List_init(LinkedList_T *pList);
QOR_RESULT List_initPool(LinkedList_T *pList, QOR_UINT32 n, void *param, List_pfnConstructor pfnConstructor);
QOR_RESULT List_clear(LinkedList_T *pList);
QOR_RESULT List_clearObjects(LinkedList_T *pList, List_pfnDestructor pfnDestructor);

QOR_RESULT List_pushBack(LinkedList_T *pList, Cell_T *pCell);
QOR_RESULT List_pushFront(LinkedList_T *pList, Cell_T *pCell);
QOR_RESULT List_pushBackObject(LinkedList_T *pList, void *elem);
QOR_RESULT List_pushFrontObject(LinkedList_T *pList, void *elem);

QOR_RESULT List_detach(Cell_T *pCell);
/** Detaches and frees the cell: only for cells allocated by the list. */
QOR_RESULT List_remove(Cell_T *pCell);
QOR_RESULT List_removeObject(Cell_T *pCell, List_pfnDestructor pfnDestructor);

Cell_T *List_popFront(LinkedList_T *pList);
Cell_T *List_popBack(LinkedList_T *pList);
Cell_T *List_getHead(LinkedList_T *pList);
Cell_T *List_getTail(LinkedList_T *pList);
Cell_T *List_getNext(Cell_T *pCell);
Cell_T *List_getPrev(Cell_T *pCell);

QOR_BOOL8 List_isEmpty(const LinkedList_T *pList);
QOR_UINT32 List_nElem(const LinkedList_T *pList);

/** Walks from the front; returns the cell where the visitor stopped, or null when it went through. */
Cell_T *List_visitor(LinkedList_T *pList, void *param, List_pfnVisitor pfnVisitor);

/** A ready visitor: continues while the object is not the pointer looked for. */
QOR_BOOL8 ListVisitor_findPointer(void *listElem, void *lookingFor);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_LINKEDLIST_H */
