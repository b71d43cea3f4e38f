// Support code grows here.
