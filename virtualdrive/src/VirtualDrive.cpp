// placeholder: the virtual drive is being built
