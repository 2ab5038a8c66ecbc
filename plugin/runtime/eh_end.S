/* Linked last: the zero word that ends the .eh_frame list. */
        .section .eh_frame, "r"
        .long 0
