// The run dispatcher.
